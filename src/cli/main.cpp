#include <iostream>

#include "cli/Cli.h"
#include "link/LinkState.h"
#include "link/PortList.h"
#include "link/SerialPort.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    RealClock clock;
    CliEnv env;
    env.clock = &clock;
    env.port = &TheSerialPort();
    env.open = [](const std::string& name, int baud, int dataBits, int parity, int stopBits) {
        return TheSerialPort().Open(name, baud, dataBits, parity, stopBits);
    };
    env.listPorts = [] { return ListPorts(); };
    const int code = RunCliArgs(args, env, std::cout, std::cerr);
    std::cout.flush();
    return code;
}
