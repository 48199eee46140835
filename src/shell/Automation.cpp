#include "shell/Automation.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QImageWriter>
#include <QLineEdit>
#include <QTabWidget>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

#include "link/ConnectSequence.h"
#include "link/LinkState.h"
#include "monitor/MeasuresForm.h"
#include "shell/CommSettingDlg.h"
#include "shell/MainFrame.h"
#include "widgets/GridCtrl.h"

namespace {
bool ParseInt(const char* s, int& out) {
    char* end = nullptr;
    const long v = std::strtol(s, &end, 10);
    if (end == s || *end != '\0' || v < -1000000000L || v > 1000000000L) return false;
    out = static_cast<int>(v);
    return true;
}

// Saves the window; on failure says what could not be written and why.
bool SaveScreenshot(QWidget& window, const std::string& path) {
    QImageWriter writer(QString::fromStdString(path));
    if (writer.write(window.grab().toImage())) return true;
    std::fprintf(stderr, "kvt40: cannot write the screenshot %s: %s\n", path.c_str(),
                 writer.errorString().toStdString().c_str());
    return false;
}
}  // namespace

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

int RunAutomation(QApplication& app, CMainFrame& frame, Options& o, bool interactiveSim) {
    int rc = 0;
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
    return rc;
}
