// kvt40-sim: a bus of virtual modules on a pseudo-terminal, for any serial master on this
// machine. Prints the pty path on stdout (one line), optionally links PATH to it, and serves
// until SIGINT, SIGTERM or SIGHUP (a closed terminal), removing the link on each. With
// --bench (or any source option) every module sits on a test bench fed by a standard
// source (220 V, 5 A, power factor 1.0 unless given).

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "link/Clock.h"
#include "sim/PtyBusServer.h"
#include "sim/StandardSource.h"
#include "sim/VirtualBus.h"
#include "sim/VirtualModule.h"

namespace {

constexpr const char* kUsage =
    "usage: kvt40-sim [--address N]... [--baud 4800|9600|19200] [--link PATH] [--bench] [--ua V] [--ub V]"
    " [--uc V] [--ia A] [--pf 1.0|0.866L|0.5L|0.866C|0.5C]";

int UsageError(const std::string& what) {
    std::fprintf(stderr, "kvt40-sim: %s; %s\n", what.c_str(), kUsage);
    return 2;
}

bool ParseAddress(std::string_view text, int& address) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), address);
    return ec == std::errc{} && end == text.data() + text.size() && address >= 1 && address <= 247;
}

// A source value: a plain decimal number from 0 to `max`.
bool ParseAmount(std::string_view text, double max, double& out) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc{} && end == text.data() + text.size() && out >= 0.0 && out <= max;
}

// Points `link` at `target`, replacing an earlier link but never a file that is not one.
bool MakeLink(const std::string& link, const std::string& target) {
    struct stat st{};
    if (lstat(link.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            std::fprintf(stderr, "kvt40-sim: %s exists and is not a symbolic link\n", link.c_str());
            return false;
        }
        (void)unlink(link.c_str());
    }
    if (symlink(target.c_str(), link.c_str()) != 0) {
        std::fprintf(stderr, "kvt40-sim: cannot link %s: %s\n", link.c_str(), std::strerror(errno));
        return false;
    }
    return true;
}

// Removes the link at exit only while it is still ours.
void RemoveLink(const std::string& link, const std::string& target) {
    char buf[4096];
    const ssize_t n = readlink(link.c_str(), buf, sizeof buf);
    if (n > 0 && std::string(buf, static_cast<std::size_t>(n)) == target) (void)unlink(link.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<int> addresses;
    std::string link;
    int baudIndex = 1;
    bool bench = false;
    StandardSource source;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::printf("%s\n", kUsage);
            return 0;
        }
        if (arg == "--bench") {
            bench = true;
            continue;
        }
        const bool volts = arg == "--ua" || arg == "--ub" || arg == "--uc";
        const bool sourceOption = volts || arg == "--ia" || arg == "--pf";
        if (arg != "--address" && arg != "--link" && arg != "--baud" && !sourceOption)
            return UsageError("unknown argument '" + std::string(arg) + "'");
        if (i + 1 >= argc) return UsageError(std::string(arg) + " needs a value");
        const std::string_view value = argv[++i];
        if (sourceOption) {
            bench = true;
            double amount = 0;
            if (arg == "--pf") {
                if (!source.SetPowerFactor(value)) return UsageError("bad power factor '" + std::string(value) + "'");
            } else if (volts) {
                if (!ParseAmount(value, 1000.0, amount)) return UsageError("bad voltage '" + std::string(value) + "' (0..1000)");
                source.volts[static_cast<std::size_t>(arg[3] - 'a')] = amount;
            } else {
                if (!ParseAmount(value, 100.0, amount)) return UsageError("bad current '" + std::string(value) + "' (0..100)");
                source.amps = amount;
            }
            continue;
        }
        if (arg == "--link") {
            if (value.empty()) return UsageError("--link needs a path");
            link = value;
            continue;
        }
        if (arg == "--baud") {
            int baud = 0;
            const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), baud);
            const auto index = VirtualModule::BaudIndexOf(baud);
            if (ec != std::errc{} || end != value.data() + value.size() || !index)
                return UsageError("bad baud rate '" + std::string(value) + "' (4800, 9600 or 19200)");
            baudIndex = *index;
            continue;
        }
        int address = 0;
        if (!ParseAddress(value, address)) return UsageError("bad address '" + std::string(value) + "' (1..247)");
        if (std::set<int>(addresses.begin(), addresses.end()).count(address) != 0)
            return UsageError("address " + std::to_string(address) + " given twice");
        addresses.push_back(address);
    }
    if (addresses.empty()) addresses.push_back(1);

    // Block the stop signals before the server thread starts, so only sigwait sees them.
    // SIGHUP too: left to its default it would kill us with the link still pointing at a
    // pts number that the next terminal may get.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    RealClock clock;
    VirtualBus bus(clock);
    for (int a : addresses) {
        VirtualModule& m = bus.AddModule(a, baudIndex);
        if (bench) m.Bench().Connect(source);
    }
    PtyBusServer server(bus);
    if (!server.Start()) {
        std::fprintf(stderr, "kvt40-sim: cannot open a pseudo-terminal: %s\n", std::strerror(errno));
        return 1;
    }
    const std::string path = server.SlavePath();
    if (!link.empty() && !MakeLink(link, path)) return 1;
    std::printf("%s\n", path.c_str());
    std::fflush(stdout);

    int sig = 0;
    while (sigwait(&stopSignals, &sig) != 0) {
    }
    server.Stop();
    if (!link.empty()) RemoveLink(link, path);
    return 0;
}
