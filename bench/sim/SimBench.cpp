#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include "link/LinkState.h"
#include "sim/PtyBusServer.h"
#include "sim/SimPort.h"

namespace {

void ExchangeInMemory(benchmark::State& state) {
    VirtualClock clock;
    VirtualBus bus(clock);
    bus.AddModule(1);
    SimPort port(bus, clock);
    port.Open(9600);
    const int count = static_cast<int>(state.range(0));
    std::uint8_t req[8];
    TheModbusRtu().BuildReadRegisters(req, 1, count == 10 ? 0 : 10, count);
    std::uint8_t rx[300];
    for (auto _ : state) {
        port.Write(req);
        clock.sleep(200);
        benchmark::DoNotOptimize(port.Read(rx));
    }
}
BENCHMARK(ExchangeInMemory)->Arg(10)->Arg(72);

void ExchangeOverPty(benchmark::State& state) {
    RealClock clock;
    VirtualBus bus(clock);
    bus.AddModule(1).SetTurnaroundMs(0);
    PtyBusServer server(bus);
    if (!server.Start()) {
        state.SkipWithError("no pty");
        return;
    }
    const int fd = ::open(server.SlavePath().c_str(), O_RDWR | O_NOCTTY);
    termios tio{};
    tcgetattr(fd, &tio);
    cfmakeraw(&tio);
    cfsetspeed(&tio, B9600);
    tcsetattr(fd, TCSANOW, &tio);
    std::uint8_t req[8];
    TheModbusRtu().BuildReadRegisters(req, 1, 10, 72);
    std::uint8_t rx[300];
    for (auto _ : state) {
        (void)!::write(fd, req, sizeof req);
        std::size_t got = 0;
        while (got < 149) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 1000) <= 0) break;
            const ssize_t n = ::read(fd, rx + got, sizeof rx - got);
            if (n > 0) got += static_cast<std::size_t>(n);
        }
        if (got != 149) state.SkipWithError("short reply");
    }
    ::close(fd);
}
BENCHMARK(ExchangeOverPty);

}  // namespace
