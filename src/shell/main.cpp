// kvt40: the desktop tool. Options beyond Qt's own:
//   --internal                    offer the internal items (device settings, calibration, update)
//   --sim                         connect to the built-in virtual module and show the readings
// and the scripted runs' options of shell/Automation.h.
#if !defined(_WIN32)
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <CLI/CLI.hpp>
#include <QApplication>
#include <QSocketNotifier>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "calibration/StandardSourceFollower.h"
#include "cli/OptionStyle.h"
#include "link/LinkState.h"
#include "link/SerialPort.h"
#include "link/WallClock.h"
#include "run/RunState.h"
#include "shell/Automation.h"
#include "shell/MainFrame.h"
#include "shell/MessageBoxSink.h"
#include "shell/Navigation.h"
#include "sim/StandardSource.h"
#include "sim/VirtualModuleHost.h"

namespace {
// The built-in virtual module's bench: a calibration on it gets the source it asks for.
class VirtualBench final : public StandardSourceFollower {
public:
    bool Follow(const LinkState& link, const StandardValues& s, int pfStep) override {
        return ConnectBuiltInSource(link.port, link.deviceAddress,
                                    StandardSource::Of({s.ua, s.ub, s.uc}, s.current, pfStep));
    }
};

// Scripted runs must never block on a message box: print it and answer Cancel.
class StderrSink final : public MessageSink {
public:
    MsgResult Show(const std::string& text, const std::string& caption, MsgIcon,
                   MsgButtons buttons) override {
        std::fprintf(stderr, "kvt40: %s: %s\n", caption.c_str(), text.c_str());
        return buttons == MsgButtons::Ok ? MsgResult::Ok : MsgResult::Cancel;
    }
};

#if defined(_WIN32)
// A windowed program has no stop signals; closing or ending the session reaches Qt as a close.
void InstallStopSignals(QObject*) {}
#else
// SIGINT and SIGTERM end the event loop like closing the window, so the port is closed
// and a pty is free for the next client. The handler only writes to a socket pair.
int g_signalFds[2] = {-1, -1};

void OnStopSignal(int) {
    const char b = 1;
    (void)!::write(g_signalFds[1], &b, 1);
}

void InstallStopSignals(QObject* owner) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalFds) != 0) return;
    auto* notifier = new QSocketNotifier(g_signalFds[0], QSocketNotifier::Read, owner);
    QObject::connect(notifier, &QSocketNotifier::activated, owner, [] {
        char b = 0;
        (void)!::read(g_signalFds[0], &b, 1);
        QApplication::quit();
    });
    struct sigaction sa {};
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}
#endif

// The help's rows are the options' own texts (main's and Automation's).
ProgramHelp Help() {
    return {"kvt40", KVT40_VERSION,
            "kvt40 [--internal] [--sim] [--connect PORT [--address N] [--baud 4800|9600|19200]]\n"
            "             [--form ID] [--screenshot FILE [--after-ms M]]",
            "The KVT40 test, calibration and service tool.",
            "Serial ports need the dialout group: sudo usermod -aG dialout $USER, then log in again.\n"};
}

std::vector<std::string> Arguments(int argc, char** argv) {
    return {argv + 1, argv + argc};
}
}  // namespace

int main(int argc, char** argv) {
    CLI::App cli{"kvt40", "kvt40"};
    bool internal = false;
    bool sim = false;
    cli.add_flag("--internal", internal, "offer the internal items (device settings, calibration, update)");
    cli.add_flag("--sim", sim, "connect to the built-in virtual module and show the readings");
    Automation automation;
    automation.Declare(cli);
    // Parsed before the toolkit starts, so that --help, --version and a wrong option need no
    // display; what the toolkit takes for itself (-platform NAME, ...) is left over until then.
    if (const auto rc = ParseProgramOptions(cli, Help(), Arguments(argc, argv), std::cout, std::cerr, true))
        return *rc;
    if (const auto bad = automation.Check()) return UsageError(std::cerr, "kvt40", *bad);
    QApplication app(argc, argv);
    if (const auto rc = ParseProgramOptions(cli, Help(), Arguments(argc, argv), std::cout, std::cerr))
        return *rc;
    // The toolkit takes the user's locale for the C library too; readings are formatted and
    // typed values parsed with a decimal point whatever the desktop's language.
    std::setlocale(LC_NUMERIC, "C");
    if (sim) automation.StartOnVirtualModule();
    SetInternalItems(internal ? 1 : 0);
    RegisterVirtualModulePort();

    const bool scripted = automation.Scripted() && !automation.ShowsMessages();
    CMessageBoxSink boxes;
    StderrSink quiet;
    MessageSink& sink = scripted ? static_cast<MessageSink&>(quiet) : static_cast<MessageSink&>(boxes);

    InstallStopSignals(&app);
    RunState run;  // outlives the frame: every form is handed parts of it
    VirtualBench bench;
    int rc = 0;
    {
        // Only the port the Connect dialog opened can be opened again by its name.
        const auto reopen = [&run](int baudIndex) {
            const LinkState& link = run.link;
            if (link.portName.empty() || link.port != &LinkPortFor(run.port, link.portName)) return false;
            return OpenLinkPort(run.port, link.portName, BaudRateOf(baudIndex), link.dataBits,
                                link.parityIndex, link.stopBitsIndex, link.deviceAddress);
        };
        CMainFrame frame(FormContext{run, run.link, run.clock, sink, run.wall, &bench, reopen});
        boxes.SetParent(&frame);
        frame.show();

        rc = automation.Run(app, frame);
    }
    run.port.Close();  // before the virtual module behind it stops
    StopVirtualModule();
    return rc;
}
