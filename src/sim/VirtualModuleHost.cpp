#include "sim/VirtualModuleHost.h"

#include <memory>
#include <mutex>
#include <vector>

#include "link/PortList.h"
#include "link/SerialPort.h"
#include "sim/EmbeddedSim.h"

namespace {
std::mutex& SimMutex() {
    static std::mutex m;
    return m;
}
std::unique_ptr<EmbeddedSim>& Sim() {
    static std::unique_ptr<EmbeddedSim> sim;
    return sim;
}
}  // namespace

std::string VirtualModulePortPath(int address, int baud) {
    const std::lock_guard lock(SimMutex());
    auto& sim = Sim();
    if (!sim) {
        // Outside 1..247 nobody could be addressed; the module then sits at 1.
        auto fresh = std::make_unique<EmbeddedSim>(address >= 1 && address <= 247 ? address : 1, baud);
        if (!fresh->Start()) return {};
        sim = std::move(fresh);
    }
    return sim->PortPath();
}

bool WithBuiltInBus(const std::string& portPath, const std::function<void(VirtualBus&)>& f) {
    const std::lock_guard lock(SimMutex());
    auto& sim = Sim();
    if (!sim || portPath.empty() || sim->PortPath() != portPath) return false;
    f(sim->Bus());
    return true;
}

void StopVirtualModule() {
    const std::lock_guard lock(SimMutex());
    if (Sim()) {
        Sim()->Stop();
        Sim().reset();
    }
}

bool OpenLinkPort(CSerialPort& port, const std::string& name, int baud, int dataBits, int parity, int stopBits,
                  int address) {
    if (name != kVirtualModuleName) return port.Open(name, baud, dataBits, parity, stopBits);
    const std::string path = VirtualModulePortPath(address, baud);
    return !path.empty() && port.Open(path, baud, dataBits, parity, stopBits);
}

void RegisterVirtualModulePort() {
    // ListPorts() puts these entries before the devices, so the virtual module is only
    // offered there when the machine has no adapter; otherwise the dialog appends it.
    SetExtraPortProvider([] {
        std::vector<std::string> extra;
        if (ListSerialPorts().empty()) extra.emplace_back(kVirtualModuleName);
        return extra;
    });
}
