// kvt40-sim: a bus of virtual modules on a pseudo-terminal, for any serial master on this
// machine. Prints the pty path on stdout (one line), optionally links PATH to it, and serves
// until SIGINT, SIGTERM or SIGHUP (a closed terminal), removing the link on each. With
// --bench (or any source option) every module sits on a test bench fed by a standard
// source (220 V, 5 A, power factor 1.0 unless given). --fault gives a module's bootloader
// a fault for the firmware update's failure paths; --trace prints each bootloader step on
// stdout ("5 block 3"), after the path line. --reply-delay makes every module answer that
// many ms later than its own turnaround, as a slow module on a real bus does. --listen
// tcp:[HOST:]PORT serves the same bus over raw TCP too (loopback unless HOST is given; port 0
// picks a free one) and prints "tcp://HOST:PORT" on stdout after the path line.

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "cli/OptionStyle.h"
#include "link/Clock.h"
#include "link/LinkState.h"
#include "sim/Bootloader.h"
#include "sim/PtyBusServer.h"
#include "sim/StandardSource.h"
#include "sim/TcpBusServer.h"
#include "sim/VirtualBus.h"
#include "sim/VirtualModule.h"

namespace {

constexpr const char* kFaultHelp =
    "faults of a module's bootloader (N a data block, 1 the first):\n"
    "  no-handshake       never answers the update's handshake\n"
    "  nak:N[:TIMES]      answers block N with NAK (once by default)\n"
    "  drop:N[:TIMES]     leaves block N unanswered (once by default)\n"
    "  snapshot           its calibration snapshot (376..405) changes across the update\n"
    "  in-bootloader      starts in its bootloader, as left by a failed update\n"
    "  vanish:N[:SECONDS] falls silent at block N, back in its bootloader after SECONDS (600)\n";

struct FaultArg {
    int address = 0;
    std::string kind;
    Bootloader::Faults faults;
    bool inBootloader = false;
};

bool ParseCount(std::string_view text, int lo, int hi, int& out) {
    int v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc{} || end != text.data() + text.size() || v < lo || v > hi) return false;
    out = v;
    return true;
}

// "5:nak:3:2" into module 5's faults; false for anything else.
bool ParseFault(std::string_view text, FaultArg& f) {
    std::vector<std::string_view> parts;
    for (std::size_t at = 0;;) {
        const auto colon = text.find(':', at);
        parts.push_back(
            text.substr(at, colon == std::string_view::npos ? std::string_view::npos : colon - at));
        if (colon == std::string_view::npos) break;
        at = colon + 1;
    }
    if (parts.size() < 2 || !ParseCount(parts[0], 1, 247, f.address)) return false;
    f.kind = parts[1];
    const auto number = [&](std::size_t i, int lo, int hi, int& out) {
        return i < parts.size() && ParseCount(parts[i], lo, hi, out);
    };
    if (f.kind == "no-handshake" || f.kind == "snapshot" || f.kind == "in-bootloader") {
        f.faults.ignoreHandshake = f.kind == "no-handshake";
        f.faults.snapshotChanges = f.kind == "snapshot";
        f.inBootloader = f.kind == "in-bootloader";
        return parts.size() == 2;
    }
    if (parts.size() < 3 || parts.size() > 4) return false;
    if (f.kind == "nak" || f.kind == "drop") {
        int block = 0;
        int times = 1;
        if (!number(2, 1, 65535, block) || (parts.size() == 4 && !number(3, 1, 1000000, times))) return false;
        (f.kind == "nak" ? f.faults.nakBlock : f.faults.dropBlock) = block;
        (f.kind == "nak" ? f.faults.nakCount : f.faults.dropCount) = times;
        return true;
    }
    if (f.kind == "vanish") {
        int seconds = Bootloader::kDefaultVanishMs / 1000;
        if (!number(2, 1, 65535, f.faults.vanishAtBlock) ||
            (parts.size() == 4 && !number(3, 1, 86400, seconds)))
            return false;
        f.faults.vanishMs = seconds * 1000;
        return true;
    }
    return false;
}

int UsageError(const std::string& what) {
    return ::UsageError(std::cerr, "kvt40-sim", what);
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
    struct stat st {};
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

// What the command line asks for, its values still as given.
struct Line {
    std::vector<std::string> addresses;
    std::string baud;
    std::string link;
    std::vector<std::string> faults;
    bool trace = false;
    std::string replyDelay;
    bool bench = false;
    std::string volts[3];
    std::string amps;
    std::string pf;
    std::string listen;
};

void Declare(CLI::App& app, Line& line) {
    // Repeatable ones take one value each time; of the others the last one counts.
    app.add_option("--address", line.addresses,
                   "a module at address N, 1 to 247; repeat for more (default one at 1)")
        ->type_name("N")
        ->allow_extra_args(false);
    app.add_option("--baud", line.baud, "the modules' line rate: 4800, 9600 or 19200 (default 9600)")
        ->type_name("RATE")
        ->take_last();
    app.add_option("--link", line.link, "also make PATH a symbolic link to the terminal, removed at exit")
        ->type_name("PATH")
        ->take_last();
    app.add_option("--fault", line.faults, "a fault of module ADDRESS's bootloader (below); repeatable")
        ->type_name("ADDRESS:FAULT")
        ->allow_extra_args(false);
    app.add_flag("--trace", line.trace,
                 "print each bootloader step on stdout (\"5 block 3\"), after the path");
    app.add_option("--reply-delay", line.replyDelay,
                   "every module answers MS ms (0 to 10000) later than its own turnaround")
        ->type_name("MS")
        ->take_last();
    app.add_option("--listen", line.listen, "also serve the bus over TCP on PORT (of HOST; default loopback)")
        ->type_name("tcp:[HOST:]PORT")
        ->take_last();
    app.add_flag("--bench", line.bench, "put every module on a test bench fed by a standard source");
    for (int phase = 0; phase < 3; ++phase) {
        const std::string name(1, static_cast<char>('a' + phase));
        app.add_option("--u" + name, line.volts[phase],
                       "the source's voltage of phase " + std::string(1, static_cast<char>('A' + phase)) +
                           ", 0 to 1000 (default 220)")
            ->type_name("V")
            ->take_last();
    }
    app.add_option("--ia", line.amps, "the source's current, 0 to 100 (default 5)")
        ->type_name("A")
        ->take_last();
    app.add_option("--pf", line.pf, "the source's power factor: 1.0, 0.866L, 0.5L, 0.866C or 0.5C")
        ->type_name("STEP")
        ->take_last();
}

ProgramHelp Help() {
    return {"kvt40-sim", KVT40_VERSION,
            "kvt40-sim [--address N]... [--baud 4800|9600|19200] [--link PATH] [--fault ADDRESS:FAULT]...\n"
            "                 [--trace] [--reply-delay MS] [--listen tcp:[HOST:]PORT] [--bench]\n"
            "                 [--ua V] [--ub V] [--uc V] [--ia A] [--pf 1.0|0.866L|0.5L|0.866C|0.5C]",
            "A bus of virtual modules on a pseudo-terminal: prints its path and serves until SIGINT,\n"
            "SIGTERM or SIGHUP. A source option puts the modules on a bench as --bench does.",
            kFaultHelp};
}

// "tcp:PORT" (loopback) or "tcp:HOST:PORT", an IPv6 host in brackets.
bool ParseListen(std::string_view text, std::string& host, int& port) {
    if (!text.starts_with("tcp:")) return false;
    text.remove_prefix(4);
    host = "127.0.0.1";
    const auto colon = text.rfind(':');
    if (colon != std::string_view::npos) {
        std::string_view h = text.substr(0, colon);
        if (h.starts_with('[') && h.ends_with(']')) h = h.substr(1, h.size() - 2);
        if (h.empty()) return false;
        host = h;
        text.remove_prefix(colon + 1);
    }
    return ParseCount(text, 0, 65535, port);
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"kvt40-sim", "kvt40-sim"};
    Line line;
    Declare(app, line);
    if (const auto rc = ParseProgramOptions(app, Help(), {argv + 1, argv + argc}, std::cout, std::cerr))
        return *rc;

    std::vector<int> addresses;
    for (const std::string& text : line.addresses) {
        int address = 0;
        if (!ParseAddress(text, address)) return UsageError("bad address '" + text + "' (1..247)");
        if (std::find(addresses.begin(), addresses.end(), address) != addresses.end())
            return UsageError("address " + std::to_string(address) + " given twice");
        addresses.push_back(address);
    }
    int baudIndex = 1;
    if (!line.baud.empty()) {
        int baud = 0;
        const auto [end, ec] = std::from_chars(line.baud.data(), line.baud.data() + line.baud.size(), baud);
        const auto index = VirtualModule::BaudIndexOf(baud);
        if (ec != std::errc{} || end != line.baud.data() + line.baud.size() || !index)
            return UsageError("bad baud rate '" + line.baud + "' (4800, 9600 or 19200)");
        baudIndex = *index;
    }
    std::vector<FaultArg> faults;
    for (const std::string& text : line.faults) {
        FaultArg f;
        if (!ParseFault(text, f)) return UsageError("bad fault '" + text + "'");
        faults.push_back(f);
    }
    int replyDelayMs = 0;
    if (!line.replyDelay.empty() && !ParseCount(line.replyDelay, 0, 10000, replyDelayMs))
        return UsageError("bad reply delay '" + line.replyDelay + "' (0..10000 ms)");
    std::string listenHost;
    int listenPort = -1;
    if (!line.listen.empty() && !ParseListen(line.listen, listenHost, listenPort))
        return UsageError("bad listen address '" + line.listen + "' (tcp:[HOST:]PORT)");
    // Any source option puts the modules on the bench.
    bool bench = line.bench || !line.amps.empty() || !line.pf.empty();
    StandardSource source;
    for (std::size_t phase = 0; phase < 3; ++phase) {
        if (line.volts[phase].empty()) continue;
        bench = true;
        if (!ParseAmount(line.volts[phase], 1000.0, source.volts[phase]))
            return UsageError("bad voltage '" + line.volts[phase] + "' (0..1000)");
    }
    if (!line.amps.empty() && !ParseAmount(line.amps, 100.0, source.amps))
        return UsageError("bad current '" + line.amps + "' (0..100)");
    if (!line.pf.empty() && !source.SetPowerFactor(line.pf))
        return UsageError("bad power factor '" + line.pf + "'");
    const std::string& link = line.link;
    const bool trace = line.trace;
    if (addresses.empty()) addresses.push_back(1);
    for (const FaultArg& f : faults)
        if (std::find(addresses.begin(), addresses.end(), f.address) == addresses.end())
            return UsageError("fault for address " + std::to_string(f.address) + ", which has no module");

    // Block the stop signals before the server thread starts, so only sigwait sees them.
    // SIGHUP too: left to its default it would kill us with the link still pointing at a
    // pts number that the next terminal may get.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    // Whoever reads the trace may stop reading (--trace | head -1): the bus keeps serving.
    signal(SIGPIPE, SIG_IGN);

    RealClock clock;
    VirtualBus bus(clock);
    for (int a : addresses) {
        VirtualModule& m = bus.AddModule(a, baudIndex);
        m.SetTurnaroundMs(VirtualModule::kTurnaroundMs + replyDelayMs);
        if (bench) m.Bench().Connect(source);
    }
    // Faults of one module add up: "--fault 3:nak:2 --fault 3:snapshot".
    for (int a : addresses) {
        Bootloader::Faults merged;
        bool inBootloader = false;
        for (const FaultArg& f : faults) {
            if (f.address != a) continue;
            merged.ignoreHandshake = merged.ignoreHandshake || f.faults.ignoreHandshake;
            merged.snapshotChanges = merged.snapshotChanges || f.faults.snapshotChanges;
            if (f.kind == "nak")
                std::tie(merged.nakBlock, merged.nakCount) = std::pair(f.faults.nakBlock, f.faults.nakCount);
            if (f.kind == "drop")
                std::tie(merged.dropBlock, merged.dropCount) =
                    std::pair(f.faults.dropBlock, f.faults.dropCount);
            if (f.kind == "vanish")
                std::tie(merged.vanishAtBlock, merged.vanishMs) =
                    std::pair(f.faults.vanishAtBlock, f.faults.vanishMs);
            inBootloader = inBootloader || f.inBootloader;
        }
        bus.WithModule(a, [&](VirtualModule& m) {
            Bootloader* loader = BootloaderOf(m);
            if (loader == nullptr) return;
            loader->SetFaults(merged);
            if (inBootloader) loader->EnterBootloader(m);
            if (trace)
                loader->SetTrace([](int address, const std::string& event) {
                    std::printf("%d %s\n", address, event.c_str());
                    std::fflush(stdout);
                });
        });
    }
    PtyBusServer server(bus);
    if (!server.Start()) {
        std::fprintf(stderr, "kvt40-sim: cannot open a pseudo-terminal: %s\n", std::strerror(errno));
        return 1;
    }
    const std::string path = server.SlavePath();
    if (!link.empty() && !MakeLink(link, path)) return 1;
    std::printf("%s\n", path.c_str());
    std::unique_ptr<TcpBusServer> tcp;
    if (listenPort >= 0) {
        tcp = std::make_unique<TcpBusServer>(bus, BaudRateOf(baudIndex));
        std::string error;
        if (!tcp->Start(listenHost, listenPort, error)) {
            std::fprintf(stderr, "kvt40-sim: %s\n", error.c_str());
            server.Stop();
            if (!link.empty()) RemoveLink(link, path);
            return 1;
        }
        const bool v6 = listenHost.find(':') != std::string::npos;
        std::printf("tcp://%s%s%s:%d\n", v6 ? "[" : "", listenHost.c_str(), v6 ? "]" : "", tcp->Port());
    }
    std::fflush(stdout);

    int sig = 0;
    while (sigwait(&stopSignals, &sig) != 0) {
    }
    if (tcp) tcp->Stop();
    server.Stop();
    if (!link.empty()) RemoveLink(link, path);
    return 0;
}
