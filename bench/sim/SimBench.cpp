#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <random>
#include <vector>

#include "link/LinkState.h"
#include "sim/PtyBusServer.h"
#include "sim/RequestFramer.h"
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
    CModbusRtu().BuildReadRegisters(req, 1, count == 10 ? 0 : 10, count);
    std::uint8_t rx[300];
    for (auto _ : state) {
        port.Write(req);
        clock.sleep(200);
        benchmark::DoNotOptimize(port.Read(rx));
    }
}
BENCHMARK(ExchangeInMemory)->Arg(10)->Arg(72);

// Noise on the line: random bytes, or the worst case for the framer, a run of write-multiple
// headers whose byte counts of 255 each want a 264-byte CRC check.
std::vector<std::uint8_t> Garbage(std::size_t n, bool worst) {
    std::vector<std::uint8_t> g(n);
    std::mt19937 gen(7);
    std::uniform_int_distribution<int> byte(0, 255);
    for (std::size_t i = 0; i < n; ++i)
        g[i] = worst ? static_cast<std::uint8_t>(i % 2 == 0 ? 0xFF : 0x10)
                     : static_cast<std::uint8_t>(byte(gen));
    return g;
}

// How long a burst of garbage holds up the good request behind it in the framer: the CPU
// the pty server spends before it can hand the request to the bus.
void GarbageBurstThroughTheFramer(benchmark::State& state) {
    auto stream = Garbage(static_cast<std::size_t>(state.range(0)), state.range(1) != 0);
    std::uint8_t req[8];
    CModbusRtu().BuildReadRegisters(req, 1, 0, 10);
    stream.insert(stream.end(), req, req + 8);
    for (auto _ : state) {
        RequestFramer framer;
        framer.Append(stream);
        auto unit = framer.Next();
        if (!unit || unit->bytes.size() != 8) state.SkipWithError("the request was not framed");
        benchmark::DoNotOptimize(unit);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(GarbageBurstThroughTheFramer)->Args({4000, 0})->Args({4000, 1})->Unit(benchmark::kMicrosecond);

int OpenRawSlave(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY);
    termios tio{};
    tcgetattr(fd, &tio);
    cfmakeraw(&tio);
    cfsetspeed(&tio, B9600);
    tcsetattr(fd, TCSANOW, &tio);
    return fd;
}

bool ReadExactly(int fd, std::uint8_t* rx, std::size_t want) {
    std::size_t got = 0;
    while (got < want) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 1000) <= 0) return false;
        const ssize_t n = ::read(fd, rx + got, want - got);
        if (n > 0) got += static_cast<std::size_t>(n);
    }
    return true;
}

// One exchange through the pty server with `range(0)` garbage bytes written ahead of the
// request: the difference to the run without garbage is the delay the burst costs.
void ExchangeOverPtyAfterGarbage(benchmark::State& state) {
    RealClock clock;
    VirtualBus bus(clock);
    bus.AddModule(1).SetTurnaroundMs(0);
    PtyBusServer server(bus);
    if (!server.Start()) {
        state.SkipWithError("no pty");
        return;
    }
    const int fd = OpenRawSlave(server.SlavePath());
    auto stream = Garbage(static_cast<std::size_t>(state.range(0)), state.range(1) != 0);
    std::uint8_t req[8];
    CModbusRtu().BuildReadRegisters(req, 1, 0, 10);
    stream.insert(stream.end(), req, req + 8);
    std::uint8_t rx[25];
    for (auto _ : state) {
        for (std::size_t done = 0; done < stream.size();) {
            const ssize_t n = ::write(fd, stream.data() + done, stream.size() - done);
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        if (!ReadExactly(fd, rx, sizeof rx) || rx[0] != 1 || rx[1] != 3) {
            state.SkipWithError("no reply behind the garbage");
            break;
        }
    }
    ::close(fd);
}
BENCHMARK(ExchangeOverPtyAfterGarbage)
    ->Args({0, 0})
    ->Args({4000, 0})
    ->Args({4000, 1})
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

void ExchangeOverPty(benchmark::State& state) {
    RealClock clock;
    VirtualBus bus(clock);
    bus.AddModule(1).SetTurnaroundMs(0);
    PtyBusServer server(bus);
    if (!server.Start()) {
        state.SkipWithError("no pty");
        return;
    }
    const int fd = OpenRawSlave(server.SlavePath());
    std::uint8_t req[8];
    CModbusRtu().BuildReadRegisters(req, 1, 10, 72);
    std::uint8_t rx[300];
    for (auto _ : state) {
        (void)!::write(fd, req, sizeof req);
        if (!ReadExactly(fd, rx, 149)) state.SkipWithError("short reply");
    }
    ::close(fd);
}
BENCHMARK(ExchangeOverPty);

}  // namespace
