// kvt40: the desktop tool. Options beyond Qt's own:
//   --internal                    offer the internal items (device settings, calibration, update)
//   --sim                         connect to the built-in virtual module and show the readings
// and the scripted runs' options of shell/Automation.h.
#if !defined(_WIN32)
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <QApplication>
#include <QSocketNotifier>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <string>

#include "calibration/StandardSourceFollower.h"
#include "link/LinkState.h"
#include "link/SerialPort.h"
#include "link/WallClock.h"
#include "monitor/MeasuresForm.h"
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
    MsgResult Show(const std::string& text, const std::string& caption, MsgIcon, MsgButtons buttons) override {
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

constexpr const char* kUsage =
    "usage: kvt40 [--internal] [--sim] [--connect PORT [--address N] [--baud 4800|9600|19200]]\n"
    "             [--form ID] [--screenshot FILE [--after-ms M]]\n"
    "\n"
    "The KVT40 test, calibration and service tool.\n"
    "\n"
    "options:\n"
    "  --internal            offer the internal items (device settings, calibration, update)\n"
    "  --sim                 connect to the built-in virtual module and show the readings\n"
    "  --connect PORT        connect to PORT at start (\"Virtual module\" for the built-in one)\n"
    "  --address N           module address for --connect, 1 to 247 (default 1)\n"
    "  --baud RATE           baud rate for --connect: 4800, 9600 or 19200 (default 9600)\n"
    "  --form ID             open form ID after start (101 readings, 140, 147, 149, 150, ...)\n"
    "  --screenshot FILE     save the main window to FILE after --after-ms M ms (default 1000) and exit\n"
    "  --help                this text\n"
    "  --version             the version\n"
    "\n"
    "Serial ports need the dialout group: sudo usermod -aG dialout $USER, then log in again.\n";

// --help and --version answer before the toolkit starts, so they work without a display.
bool AnswerBeforeToolkit(int argc, char** argv, int& rc) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            rc = 0;
            return true;
        }
        if (a == "--version") {
            std::printf("kvt40 %s\n", KVT40_VERSION);
            rc = 0;
            return true;
        }
    }
    return false;
}
}  // namespace

int main(int argc, char** argv) {
    if (int rc = 0; AnswerBeforeToolkit(argc, argv, rc)) return rc;
    QApplication app(argc, argv);
    // The toolkit takes the user's locale for the C library too; readings are formatted and
    // typed values parsed with a decimal point whatever the desktop's language.
    std::setlocale(LC_NUMERIC, "C");
    Options o;
    if (!Parse(argc, argv, o)) {
        std::fprintf(stderr, "kvt40: unknown or incomplete option (try --help)\n");
        return 2;
    }
    // A newcomer's start: the same path as choosing the virtual module in the Connect
    // dialog, with the usual message boxes, then the live readings.
    const bool interactiveSim = o.sim && o.connectPort.empty();
    if (o.sim) {
        if (o.connectPort.empty()) o.connectPort = kVirtualModuleName;
        if (o.form == 0) o.form = CMeasuresForm::kFormId;
    }
    SetInternalItems(o.internal ? 1 : 0);
    RegisterVirtualModulePort();

    const bool scripted =
        (!o.connectPort.empty() && !interactiveSim) || o.printAfterMs >= 0 || !o.screenshot.empty();
    CMessageBoxSink boxes;
    StderrSink quiet;
    MessageSink& sink = scripted ? static_cast<MessageSink&>(quiet) : static_cast<MessageSink&>(boxes);

    InstallStopSignals(&app);
    SystemWallClock wall;
    VirtualBench bench;
    int rc = 0;
    {
        CMainFrame frame(FormContext{TheLink(), TheClock(), sink, wall, &bench});
        boxes.SetParent(&frame);
        frame.show();

        rc = RunAutomation(app, frame, o, interactiveSim);
    }
    TheSerialPort().Close();
    StopVirtualModule();
    return rc;
}
