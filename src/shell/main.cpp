// kvt40: the desktop tool. Options beyond Qt's own:
//   --internal                    offer the internal items (device settings, calibration, update)
//   --sim                         connect to the built-in virtual module and show the readings
// and, for scripted runs (tests, screenshots, benchmarks), not shown in the usage:
//   --connect PORT [--address N] [--baud 4800|9600|19200]
//                                 runs the Connect dialog's code path without showing it
//   --form ID                     switches to form ID after start (and after --connect)
//   --tab N                       then shows tab N of the form's tab control (0 the first)
//   --click ID                    then clicks the form's button ID (repeatable, in order)
//   --print-cell-within-ms M ROW COL
//                                 prints the cell of the form's grid as soon as it is filled
//                                 (at most M ms after start; empty and exit 1 then) and exits
//   --screenshot FILE [--after-ms M]   saves the main window to FILE after M ms and exits
//   --quit-when-shown             prints "shown" once the main window is up, then exits
//   --print-cycles                prints the wall time of each measurement cycle in ms
#if !defined(_WIN32)
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QImageWriter>
#include <QLineEdit>
#include <QSocketNotifier>
#include <QTabWidget>
#include <QTimer>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "calibration/StandardSourceFollower.h"
#include "link/LinkState.h"
#include "link/SerialPort.h"
#include "link/WallClock.h"
#include "monitor/MeasuresForm.h"
#include "run/RunState.h"
#include "shell/CommSettingDlg.h"
#include "shell/MainFrame.h"
#include "shell/MessageBoxSink.h"
#include "shell/Navigation.h"
#include "sim/StandardSource.h"
#include "sim/VirtualModuleHost.h"
#include "widgets/GridCtrl.h"

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

struct Options {
    bool internal = false;
    bool sim = false;
    std::string connectPort;
    int address = 1;
    int baudIndex = 1;
    int form = 0;
    int tab = -1;
    std::vector<int> clicks;
    int printAfterMs = -1;
    int printRow = 0;
    int printCol = 0;
    std::string screenshot;
    int shotAfterMs = 1000;
    bool quitWhenShown = false;
    bool printCycles = false;
};

bool ParseInt(const char* s, int& out) {
    char* end = nullptr;
    const long v = std::strtol(s, &end, 10);
    if (end == s || *end != '\0' || v < -1000000000L || v > 1000000000L) return false;
    out = static_cast<int>(v);
    return true;
}

bool Parse(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto need = [&](int n) { return i + n < argc; };
        if (a == "--internal") o.internal = true;
        else if (a == "--sim") o.sim = true;
        else if (a == "--connect" && need(1)) o.connectPort = argv[++i];
        else if (a == "--address" && need(1)) { if (!ParseInt(argv[++i], o.address)) return false; }
        else if (a == "--baud" && need(1)) {
            int baud = 0;
            if (!ParseInt(argv[++i], baud) || BaudIndexOf(baud) < 0) return false;
            o.baudIndex = BaudIndexOf(baud);
        } else if (a == "--form" && need(1)) { if (!ParseInt(argv[++i], o.form)) return false; }
        else if (a == "--tab" && need(1)) { if (!ParseInt(argv[++i], o.tab) || o.tab < 0) return false; }
        else if (a == "--click" && need(1)) {
            int id = 0;
            if (!ParseInt(argv[++i], id)) return false;
            o.clicks.push_back(id);
        }
        else if (a == "--print-cell-within-ms" && need(3)) {
            if (!ParseInt(argv[i + 1], o.printAfterMs) || !ParseInt(argv[i + 2], o.printRow) ||
                !ParseInt(argv[i + 3], o.printCol))
                return false;
            i += 3;
        } else if (a == "--screenshot" && need(1)) o.screenshot = argv[++i];
        else if (a == "--quit-when-shown") o.quitWhenShown = true;
        else if (a == "--print-cycles") o.printCycles = true;
        else if (a == "--after-ms" && need(1)) { if (!ParseInt(argv[++i], o.shotAfterMs)) return false; }
        else return false;
    }
    return true;
}
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

// Saves the window; on failure says what could not be written and why.
bool SaveScreenshot(QWidget& window, const std::string& path) {
    QImageWriter writer(QString::fromStdString(path));
    if (writer.write(window.grab().toImage())) return true;
    std::fprintf(stderr, "kvt40: cannot write the screenshot %s: %s\n", path.c_str(),
                 writer.errorString().toStdString().c_str());
    return false;
}
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
    RunState run;  // outlives the frame: every form is handed parts of it
    VirtualBench bench;
    int rc = 0;
    {
        CMainFrame frame(FormContext{run, run.link, run.clock, sink, run.wall, &bench});
        boxes.SetParent(&frame);
        frame.show();

        if (!o.connectPort.empty()) {
            frame.SetDialogRunner([&o](CCommSettingDlg& dlg) {
                dlg.AddressEdit()->setText(QString::number(o.address));
                const int idx = dlg.PortList()->findText(QString::fromStdString(o.connectPort));
                if (idx >= 0) dlg.PortList()->setCurrentIndex(idx);
                else {
                    dlg.PortList()->addItem(QString::fromStdString(o.connectPort));
                    dlg.PortList()->setCurrentIndex(dlg.PortList()->count() - 1);
                }
                dlg.BaudList()->setCurrentIndex(o.baudIndex);
                return dlg.OnConnectButton();
            });
            frame.OnConnect();
            frame.SetDialogRunner({});
            if (frame.StatusText() == QString::fromUtf8(kNoConnectionStatus)) {
                std::fprintf(stderr, "kvt40: could not connect to %s\n", o.connectPort.c_str());
                // The user has seen the message boxes; leave the window up, unconnected.
                if (interactiveSim) o.form = 0;
                else rc = 1;
            }
        }
        if (rc == 0) {
            if (o.form == 0 && o.printAfterMs >= 0) o.form = CMeasuresForm::kFormId;
            if (o.form != 0 && !frame.OpenForm(o.form)) {
                std::fprintf(stderr, "kvt40: no form %d\n", o.form);
                rc = 2;
            }
            if (rc == 0 && o.tab >= 0) {
                auto* tabs = frame.Form() != nullptr ? frame.Form()->findChild<QTabWidget*>() : nullptr;
                if (tabs == nullptr || o.tab >= tabs->count()) {
                    std::fprintf(stderr, "kvt40: form %d has no tab %d\n", o.form, o.tab);
                    rc = 2;
                } else {
                    tabs->setCurrentIndex(o.tab);
                }
            }
            // A button as the user would press it (screenshots of a form at work).
            for (const int id : o.clicks) {
                if (rc != 0) break;
                auto* button = frame.Form() != nullptr
                                   ? frame.Form()->findChild<QAbstractButton*>(QStringLiteral("button%1").arg(id))
                                   : nullptr;
                if (button == nullptr || !button->isEnabled()) {
                    std::fprintf(stderr, "kvt40: form %d has no enabled button %d\n", o.form, id);
                    rc = 2;
                } else {
                    button->click();
                }
            }
        }
        if (rc == 0) {
            if (o.printAfterMs >= 0) {
                // Polled rather than waited for, so a test costs the time the cell takes.
                auto* poll = new QTimer(&frame);
                auto* since = new QElapsedTimer;
                since->start();
                QObject::connect(poll, &QTimer::timeout, &frame, [&frame, &o, &rc, poll, since] {
                    auto* form = qobject_cast<CPollingForm*>(frame.Form());
                    const QString text = form != nullptr ? form->Grid().GetItemText(o.printRow, o.printCol) : QString();
                    if (text.isEmpty() && since->elapsed() < o.printAfterMs) return;
                    poll->stop();
                    delete since;
                    std::printf("%s\n", text.toStdString().c_str());
                    std::fflush(stdout);
                    rc = text.isEmpty() ? 1 : 0;
                    QApplication::quit();
                });
                poll->start(20);
            }
            if (o.quitWhenShown) {
                // Queued behind the show and its first paint.
                QTimer::singleShot(0, &frame, [] {
                    std::printf("shown\n");
                    std::fflush(stdout);
                    QApplication::quit();
                });
            }
            if (o.printCycles) {
                if (auto* form = qobject_cast<CMeasuresForm*>(frame.Form())) {
                    auto* since = new QElapsedTimer;
                    since->start();
                    QObject::connect(form, &CMeasuresForm::CycleCompleted, form, [since] {
                        std::printf("cycle %lld\n", static_cast<long long>(since->restart()));
                        std::fflush(stdout);
                    });
                    QObject::connect(form, &QObject::destroyed, [since] { delete since; });
                }
            }
            if (!o.screenshot.empty()) {
                QTimer::singleShot(o.shotAfterMs, &frame, [&frame, &o, &rc] {
                    rc = SaveScreenshot(frame, o.screenshot) ? 0 : 1;
                    QApplication::quit();
                });
            }
            const int loop = app.exec();
            if (o.printAfterMs < 0 && o.screenshot.empty() && !o.quitWhenShown) rc = loop;
        }
    }
    run.port.Close();  // before the virtual module behind it stops
    StopVirtualModule();
    return rc;
}
