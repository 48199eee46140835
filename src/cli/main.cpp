// kvt40ctl on this machine: the real serial port and clocks; --sim resolves to the
// built-in virtual module on a pseudo-terminal, reached through the same serial port
// (on Windows, which has none, the module is served in memory).
#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <signal.h>
#include <unistd.h>
#endif

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <thread>

#include "calibration/StandardSourceFollower.h"
#include "cli/Cli.h"
#include "link/Clock.h"
#include "link/NetworkPort.h"
#include "link/PortList.h"
#include "link/SerialPort.h"
#include "run/RunState.h"
#include "sim/StandardSource.h"
#include "sim/VirtualModuleHost.h"

namespace {

// The built-in virtual module's bench: calibrate on --sim gets the source it asks for.
// Asked of the program's own port: a command's link reaches it through a write recorder.
class VirtualBench final : public StandardSourceFollower {
public:
    explicit VirtualBench(CCommPort* const& port) : port_(port) {}
    bool Follow(const LinkState& link, const StandardValues& s, int pfStep) override {
        return ConnectBuiltInSource(port_, link.deviceAddress,
                                    StandardSource::Of({s.ua, s.ub, s.uc}, s.current, pfStep));
    }

private:
    CCommPort* const& port_;  // CliEnv::port, which --sim may point elsewhere
};

// How long a command may take to wind down after SIGINT or SIGTERM before the process
// ends anyway.
constexpr int kStopGraceMs = 2000;

// The command did not wind down within the grace: what is buffered goes out, then 130.
[[noreturn]] void EndInterrupted() {
    std::fflush(stdout);
    std::fputs("kvt40ctl: interrupted\n", stderr);
    std::_Exit(kExitInterrupted);
}

std::atomic<bool> g_interrupted{false};
// The run's serial port, for the stop handlers, which have no other way to reach it. Set
// from main's RunState before any handler can run; only this file keeps such a pointer.
std::atomic<CSerialPort*> g_runPort{nullptr};

void CloseRunPort() {
    if (CSerialPort* port = g_runPort.load()) port->Close();
}

// The port the running command talks through (the serial port, the network port or the
// built-in module's in-memory one), for the stop handlers likewise.
std::atomic<CCommPort*> g_linkPort{nullptr};

void CloseLinkPort() {
    CloseRunPort();
    if (CCommPort* port = g_linkPort.load()) port->Close();
}

#if defined(_WIN32)
// Ctrl-C, Ctrl-Break and a closed console window come on a thread of their own: the port is
// closed at once (the running exchange then fails and the command ends), as with the POSIX
// stop signals. The system ends the process for a closed window 5 s after, so the grace fits.
BOOL WINAPI OnConsoleStop(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
    g_interrupted = true;
    CloseLinkPort();
    RealClock().sleep(kStopGraceMs);
    EndInterrupted();
}
#else
// SIGINT and SIGTERM are waited for on their own thread: the port is closed at once (the
// running exchange then fails and the command ends), so no client leaves a port locked.
void WatchStopSignals(const sigset_t& set) {
    std::thread([set] {
        int sig = 0;
        while (sigwait(&set, &sig) != 0) {
        }
        g_interrupted = true;
        CloseLinkPort();
        RealClock().sleep(kStopGraceMs);
        EndInterrupted();
    }).detach();
}
#endif

}  // namespace

int main(int argc, char** argv) {
    RunState run;
    g_runPort = &run.port;
    g_linkPort = &run.port;
#if defined(_WIN32)
    // LF line ends, as on every system, so that scripts parse the same text.
    (void)_setmode(_fileno(stdout), _O_BINARY);
    (void)_setmode(_fileno(stderr), _O_BINARY);
    SetConsoleCtrlHandler(OnConsoleStop, TRUE);
#else
    // Blocked before any thread starts (the virtual module's too), so only sigwait sees them.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    WatchStopSignals(stop);
    // A closed output pipe must not kill a command half-way through changing a module: the
    // write fails instead, the command finishes, and the exit code says the output was lost.
    signal(SIGPIPE, SIG_IGN);
#endif

    std::vector<std::string> args(argv + 1, argv + argc);
    int simAddress = 1;
    CliEnv env{run};
    env.clock = &run.clock;
    env.wall = &run.wall;
    env.port = &run.port;
    env.interrupted = &g_interrupted;
    VirtualBench bench(env.port);
    env.bench = &bench;
    std::string lastOpened;
    // A network address is opened on the network port, which the commands then talk through.
    env.open = [&simAddress, &env, &run, &lastOpened](const std::string& name, int baud, int dataBits,
                                                      int parity, int stopBits) {
        lastOpened = name;
        if (!OpenLinkPort(run.port, name, baud, dataBits, parity, stopBits, simAddress)) return false;
        env.port = &LinkPortFor(run.port, name);
        g_linkPort = env.port;
        return true;
    };
    env.openFailure = [&run, &lastOpened] { return LinkOpenFailureText(run.port, lastOpened); };
    env.listPorts = [] { return ListPorts(); };
    env.startSim = [&simAddress, &env, &run](int address, int, std::string&) -> std::optional<std::string> {
        simAddress = address;
        env.port = &LinkPortFor(run.port, kVirtualModuleName);
        g_linkPort = env.port;
        return std::string(kVirtualModuleName);
    };
    const int code = RunCliArgs(args, env, std::cout, std::cerr);
    std::cout.flush();
    const bool written = std::cout.good() && std::fflush(stdout) == 0 && !std::ferror(stdout);
    env.port->Close();
    g_runPort = nullptr;  // the run ends with main; a late stop finds the port closed already
    g_linkPort = nullptr;
    run.port.Close();
    StopVirtualModule();
    if (!written) {
        // A bad cout was already reported by the run; stdio's own buffer fails only here.
        if (std::cout.good()) std::fprintf(stderr, "kvt40ctl: cannot write to standard output\n");
        return kExitFailed;
    }
    return code;
}
