#include <iostream>
#include <memory>

#include "cli/Cli.h"
#include "link/LinkState.h"
#include "link/PortList.h"
#include "link/SerialPort.h"
#include "sim/SimPort.h"
#include "sim/VirtualBus.h"

namespace {

// The built-in virtual module for --sim: a bus with one module at the asked address,
// reached through the in-memory port on the real clock.
struct BuiltInSim {
    explicit BuiltInSim(Clock& clock, int address) : bus(clock), port(bus, clock) { bus.AddModule(address); }
    VirtualBus bus;
    SimPort port;
};

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    RealClock clock;
    std::unique_ptr<BuiltInSim> sim;
    CliEnv env;
    env.clock = &clock;
    env.port = &TheSerialPort();
    env.open = [](const std::string& name, int baud, int dataBits, int parity, int stopBits) {
        return TheSerialPort().Open(name, baud, dataBits, parity, stopBits);
    };
    env.listPorts = [] { return ListPorts(); };
    env.startSim = [&](int address, int, std::string&) -> std::optional<std::string> {
        sim = std::make_unique<BuiltInSim>(clock, address);
        env.port = &sim->port;
        env.open = [&sim](const std::string&, int baud, int, int, int) { return sim->port.Open(baud); };
        return std::string("Virtual module");
    };
    const int code = RunCliArgs(args, env, std::cout, std::cerr);
    std::cout.flush();
    return code;
}
