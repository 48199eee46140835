// Times the firmware update and the bus scan against kvt40-sim on a pseudo-terminal, through
// the real serial port on the real clock, and sets each against its protocol bound:
//   update: sequence A for one module with a 60 KiB image at 19200 baud; the bound is every
//           prescribed wait (three "==" pairs, so the key three times) plus the wire time of
//           every byte sent and received (10 bits a byte);
//   scan:   1..247 at 19200 baud; every tick waits 200 + 200 ms, longer than the period, so the
//           bound is 200 ms + 247 x max(period, 400 ms).
// Usage: update_bench [--sim PATH] [--skip-scan] [--skip-update]   (a program to run, not a test)
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "link/LinkState.h"
#include "link/SerialPort.h"
#include "link/UpdateLog.h"
#include "sim/Bootloader.h"
#include "update/BusScan.h"
#include "update/UpdateSequences.h"
#include "update/YmodemSender.h"

namespace {

using Steady = std::chrono::steady_clock;
constexpr int kBaud = 19200;
constexpr std::size_t kImageBytes = 60 * 1024;

struct Sim {
    pid_t pid = -1;
    int out = -1;
    std::string path;
};

Sim StartSim(const std::string& exe) {
    Sim s;
    int fds[2];
    if (pipe(fds) != 0) return s;
    s.pid = fork();
    if (s.pid == 0) {
        dup2(fds[1], STDOUT_FILENO);
        close(fds[0]);
        close(fds[1]);
        execl(exe.c_str(), exe.c_str(), "--baud", "19200", "--address", "1", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    s.out = fds[0];
    const auto until = Steady::now() + std::chrono::seconds(5);
    while (Steady::now() < until) {
        pollfd p{s.out, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        char c = 0;
        if (read(s.out, &c, 1) != 1 || c == '\n') break;
        s.path += c;
    }
    return s;
}

void StopSim(Sim& s) {
    if (s.pid > 0) {
        kill(s.pid, SIGTERM);
        waitpid(s.pid, nullptr, 0);
    }
    if (s.out >= 0) close(s.out);
}

double WireMs(std::size_t bytes) {
    return static_cast<double>(bytes) * 10.0 * 1000.0 / kBaud;
}

// Every wait sequence A prescribes for a module whose banner has "====" at 74..77 and whose
// transfer of `blocks` data blocks is acknowledged at the first poll each time.
double WaitsMs(std::size_t blocks) {
    using U = UpdateSequences;
    using Y = YmodemSender;
    const double key = U::kKeyReplyWaitMs + U::kKeySettleMs + U::kKeyLoggedMs;
    const double transfer = Y::kHeaderSettleMs + Y::kAckPollMs + static_cast<double>(blocks) * Y::kAckPollMs +
                            Y::kAckPollMs + Y::kClosingPollMs;
    return U::kSnapshotBeforeWaitMs + U::kHandshakeReplyWaitMs + U::kHandshakeSettleMs + 3 * key +
           2 * U::kReadyWaitMs + transfer + U::kRestartWaitMs + U::kSnapshotAfterWaitMs + U::kVerdictWaitMs;
}

// Bytes on the line both ways in that sequence.
std::size_t LineBytes(std::size_t blocks) {
    const std::size_t snapshot = 8 + 5 + 2 * 30;
    const std::size_t sent = 18 + 3 + 133 + blocks * 1029 + 1 + 133;
    const std::size_t received =
        Bootloader::Banner(1).size() + Bootloader::kReadyText.size() + 1 + blocks + 3;
    return 2 * snapshot + sent + received;
}

bool RunUpdate(const std::string& path) {
    CSerialPort port;
    if (!port.Open(path, kBaud, 8, 0, 0)) return false;
    RealClock clock;
    CModbusRtu rtu;
    LinkState link{1, 2, 8, 0, 0, &rtu, &port};
    char name[] = "/tmp/kvt40-bench-XXXXXX";
    const int fd = mkstemp(name);
    if (fd < 0) return false;
    std::vector<std::uint8_t> image(kImageBytes);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 31 + 7);
    const bool written = write(fd, image.data(), image.size()) == static_cast<ssize_t>(image.size());
    close(fd);
    if (!written) return false;

    std::atomic<std::uint32_t> progress{0};
    UpdateSequences sequences(link, clock, progress);
    UpdateLog log;
    const auto t0 = Steady::now();
    const auto state = sequences.SequenceA(1, name, log);
    const double ms = std::chrono::duration<double, std::milli>(Steady::now() - t0).count();
    unlink(name);
    const std::size_t blocks = (kImageBytes + 1023) / 1024;
    const double waits = WaitsMs(blocks);
    const double bound = waits + WireMs(LineBytes(blocks));
    std::printf(
        "update 60 KiB at 19200: %s, %.0f ms; bound %.0f ms (waits %.0f + wire %.0f): ratio %.3f; "
        "against the waits alone %.3f\n",
        state ? std::string(ModuleStateText(*state)).c_str() : "untouched", ms, bound, waits, bound - waits,
        ms / bound, ms / waits);
    return state == ModuleState::UpdatedCalOk;
}

bool RunScan(const std::string& path) {
    CSerialPort port;
    if (!port.Open(path, kBaud, 8, 0, 0)) return false;
    RealClock clock;
    CModbusRtu rtu;
    LinkState link{1, 2, 8, 0, 0, &rtu, &port};
    BusScan scan(link, clock);
    const auto t0 = Steady::now();
    if (scan.Start(1, 247) != BusScan::StartResult::Started) return false;
    const bool ended = scan.RunToEnd({}, {});
    const double ms = std::chrono::duration<double, std::milli>(Steady::now() - t0).count();
    const double bound = BusScan::kRequestWaitMs + 247.0 * std::max(scan.PeriodMs(), 400);
    std::printf("scan 1..247 at 19200 (period %d ms): %.0f ms, found %zu; bound %.0f ms: ratio %.4f\n",
                scan.PeriodMs(), ms, scan.Found().size(), bound, ms / bound);
    return ended;
}

}  // namespace

int main(int argc, char** argv) {
    std::string exe = KVT40_SIM_PATH;
    bool scan = true;
    bool update = true;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--sim") == 0 && i + 1 < argc)
            exe = argv[++i];
        else if (std::strcmp(argv[i], "--skip-scan") == 0)
            scan = false;
        else if (std::strcmp(argv[i], "--skip-update") == 0)
            update = false;
        else {
            std::fprintf(stderr, "usage: update_bench [--sim PATH] [--skip-scan] [--skip-update]\n");
            return 2;
        }
    }
    Sim sim = StartSim(exe);
    if (sim.path.empty()) {
        std::fprintf(stderr, "update_bench: kvt40-sim did not start (%s)\n", exe.c_str());
        StopSim(sim);
        return 1;
    }
    bool ok = true;
    if (update) ok = RunUpdate(sim.path) && ok;
    if (scan) ok = RunScan(sim.path) && ok;
    StopSim(sim);
    return ok ? 0 : 1;
}
