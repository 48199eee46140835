#include "sim/VirtualBench.h"

#include "link/SerialPort.h"
#include "sim/VirtualModuleHost.h"

StandardSource BenchSourceFor(const StandardValues& standard, int pfStep) {
    StandardSource s;
    s.volts = {standard.ua, standard.ub, standard.uc};
    s.amps = standard.current;
    if (!s.SetPowerFactorStep(pfStep)) s.SetPowerFactorStep(0);
    return s;
}

bool ConnectBenchSource(VirtualBus& bus, int address, const StandardSource& source) {
    return bus.WithModule(address, [&source](VirtualModule& m) { m.Bench().Connect(source); });
}

bool FollowOnVirtualBench(const LinkState& link, const StandardValues& standard, int pfStep) {
    const auto* serial = dynamic_cast<const CSerialPort*>(link.port);
    if (serial == nullptr || !serial->IsOpen()) return false;
    bool connected = false;
    WithBuiltInBus(serial->Name(), [&](VirtualBus& bus) {
        connected = ConnectBenchSource(bus, link.deviceAddress, BenchSourceFor(standard, pfStep));
    });
    return connected;
}
