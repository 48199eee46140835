#include "shell/Automation.h"

#include <CLI/CLI.hpp>
#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
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
#include "shell/WindowShot.h"
#include "sim/VirtualModuleHost.h"
#include "update/UpdateForm.h"
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
    if (writer.write(GrabWithDialogs(window))) return true;
    std::fprintf(stderr, "kvt40: cannot write the screenshot %s: %s\n", path.c_str(),
                 writer.errorString().toStdString().c_str());
    return false;
}
}  // namespace

void Automation::Declare(CLI::App& app) {
    // Given twice, the last one counts.
    app.add_option("--connect", connectPort_,
                   "connect to PORT at start (\"Virtual module\" for the built-in one)")
        ->type_name("PORT")
        ->take_last();
    app.add_option("--address", addressText_, "module address for --connect, 1 to 247 (default 1)")
        ->type_name("N")
        ->take_last();
    app.add_option("--baud", baudText_, "baud rate for --connect: 4800, 9600 or 19200 (default 9600)")
        ->type_name("RATE")
        ->take_last();
    app.add_option("--form", formText_, "open form ID after start (101 readings, 140, 147, 149, 150, ...)")
        ->type_name("ID")
        ->take_last();
    app.add_option("--screenshot", screenshot_,
                   "save the main window to FILE after --after-ms M ms (default 1000) and exit")
        ->type_name("FILE")
        ->take_last();
    app.add_option("--tab", tabText_)->take_last();
    app.add_option("--click", clickTexts_)->allow_extra_args(false);
    app.add_option("--print-cell-within-ms", printCellTexts_)->expected(3);
    app.add_option("--after-ms", afterMsText_)->take_last();
    app.add_flag("--quit-when-shown", quitWhenShown_);
    app.add_flag("--print-cycles", printCycles_);
    app.add_option("--step", stepTexts_)->allow_extra_args(false);
    app.add_flag("--show-messages", showMessages_);
}

std::optional<std::string> Automation::Check() {
    const auto number = [](const std::string& option, const std::string& text,
                           int& out) -> std::optional<std::string> {
        if (text.empty() || ParseInt(text.c_str(), out)) return std::nullopt;
        return option + " must be a number, not '" + text + "'";
    };
    if (auto bad = number("--address", addressText_, address_)) return bad;
    if (!baudText_.empty()) {
        int baud = 0;
        if (!ParseInt(baudText_.c_str(), baud) || BaudIndexOf(baud) < 0)
            return "--baud must be 4800, 9600 or 19200, not '" + baudText_ + "'";
        baudIndex_ = BaudIndexOf(baud);
    }
    if (auto bad = number("--form", formText_, form_)) return bad;
    if (!tabText_.empty() && (!ParseInt(tabText_.c_str(), tab_) || tab_ < 0))
        return "--tab must be a tab number from 0, not '" + tabText_ + "'";
    clicks_.clear();
    for (const std::string& text : clickTexts_) {
        int id = 0;
        if (auto bad = number("--click", text, id)) return bad;
        clicks_.push_back(id);
    }
    if (printCellTexts_.size() == 3) {
        if (auto bad = number("--print-cell-within-ms", printCellTexts_[0], printAfterMs_)) return bad;
        if (auto bad = number("--print-cell-within-ms", printCellTexts_[1], printRow_)) return bad;
        if (auto bad = number("--print-cell-within-ms", printCellTexts_[2], printCol_)) return bad;
    }
    if (auto bad = number("--after-ms", afterMsText_, shotAfterMs_)) return bad;
    steps_.clear();
    for (const std::string& text : stepTexts_) {
        const auto colon = text.find(':');
        const std::string verb = text.substr(0, colon);
        const std::string rest = colon == std::string::npos ? std::string() : text.substr(colon + 1);
        const std::string bad =
            "--step must be wait:MS, click:ID, edit:ID=TEXT, file:PATH, form:ID or menu:ID, not '" + text +
            "'";
        Step step{Step::Kind::Wait, 0, {}};
        if (verb == "file" && !rest.empty()) {
            step = {Step::Kind::File, 0, rest};
        } else if (verb == "edit") {
            const auto eq = rest.find('=');
            if (eq == std::string::npos || !ParseInt(rest.substr(0, eq).c_str(), step.number)) return bad;
            step.kind = Step::Kind::Edit;
            step.text = rest.substr(eq + 1);
        } else if (verb == "wait" || verb == "click" || verb == "form" || verb == "menu") {
            if (!ParseInt(rest.c_str(), step.number) || step.number < 0) return bad;
            step.kind = verb == "wait"    ? Step::Kind::Wait
                        : verb == "click" ? Step::Kind::Click
                        : verb == "menu"  ? Step::Kind::Menu
                                          : Step::Kind::Form;
        } else {
            return bad;
        }
        steps_.push_back(step);
    }
    return std::nullopt;
}

void Automation::StartOnVirtualModule() {
    // A newcomer's start: the same path as choosing the virtual module in the Connect
    // dialog, with the usual message boxes, then the live readings.
    interactiveSim_ = connectPort_.empty();
    if (connectPort_.empty()) connectPort_ = kVirtualModuleName;
    if (form_ == 0) form_ = CMeasuresForm::kFormId;
}

bool Automation::Scripted() const {
    return (!connectPort_.empty() && !interactiveSim_) || printAfterMs_ >= 0 || !screenshot_.empty();
}

int Automation::Run(QApplication& app, CMainFrame& frame) {
    int rc = 0;
    if (!connectPort_.empty()) {
        frame.SetDialogRunner([this](CCommSettingDlg& dlg) {
            dlg.AddressEdit()->setText(QString::number(address_));
            const int idx = dlg.PortList()->findText(QString::fromStdString(connectPort_));
            if (idx >= 0)
                dlg.PortList()->setCurrentIndex(idx);
            else {
                dlg.PortList()->addItem(QString::fromStdString(connectPort_));
                dlg.PortList()->setCurrentIndex(dlg.PortList()->count() - 1);
            }
            dlg.BaudList()->setCurrentIndex(baudIndex_);
            return dlg.OnConnectButton();
        });
        frame.OnConnect();
        frame.SetDialogRunner({});
        if (frame.StatusText() == QString::fromUtf8(kNoConnectionStatus)) {
            std::fprintf(stderr, "kvt40: could not connect to %s\n", connectPort_.c_str());
            // The user has seen the message boxes; leave the window up, unconnected.
            if (interactiveSim_)
                form_ = 0;
            else
                rc = 1;
        }
    }
    if (rc == 0) {
        if (form_ == 0 && printAfterMs_ >= 0) form_ = CMeasuresForm::kFormId;
        if (form_ != 0 && !frame.OpenForm(form_)) {
            std::fprintf(stderr, "kvt40: no form %d\n", form_);
            rc = 2;
        }
        if (rc == 0 && tab_ >= 0) {
            auto* tabs = frame.Form() != nullptr ? frame.Form()->findChild<QTabWidget*>() : nullptr;
            if (tabs == nullptr || tab_ >= tabs->count()) {
                std::fprintf(stderr, "kvt40: form %d has no tab %d\n", form_, tab_);
                rc = 2;
            } else {
                tabs->setCurrentIndex(tab_);
            }
        }
        // A button as the user would press it (screenshots of a form at work).
        for (const int id : clicks_) {
            if (rc != 0) break;
            auto* button = frame.Form() != nullptr
                               ? frame.Form()->findChild<QAbstractButton*>(QStringLiteral("button%1").arg(id))
                               : nullptr;
            if (button == nullptr || !button->isEnabled()) {
                std::fprintf(stderr, "kvt40: form %d has no enabled button %d\n", form_, id);
                rc = 2;
            } else {
                button->click();
            }
        }
    }
    if (rc == 0) {
        if (printAfterMs_ >= 0) {
            // Polled rather than waited for, so a test costs the time the cell takes.
            auto* poll = new QTimer(&frame);
            auto* since = new QElapsedTimer;
            since->start();
            QObject::connect(poll, &QTimer::timeout, &frame, [this, &frame, &rc, poll, since] {
                auto* form = qobject_cast<CPollingForm*>(frame.Form());
                const QString text =
                    form != nullptr ? form->Grid().GetItemText(printRow_, printCol_) : QString();
                if (text.isEmpty() && since->elapsed() < printAfterMs_) return;
                poll->stop();
                delete since;
                std::printf("%s\n", text.toStdString().c_str());
                std::fflush(stdout);
                rc = text.isEmpty() ? 1 : 0;
                QApplication::quit();
            });
            poll->start(20);
        }
        if (quitWhenShown_) {
            // Queued behind the show and its first paint.
            QTimer::singleShot(0, &frame, [] {
                std::printf("shown\n");
                std::fflush(stdout);
                QApplication::quit();
            });
        }
        if (printCycles_) {
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
        if (!steps_.empty()) QTimer::singleShot(0, &frame, [this, &frame, &rc] { RunSteps(frame, 0, rc); });
        if (!screenshot_.empty()) {
            QTimer::singleShot(shotAfterMs_, &frame, [this, &frame, &rc] {
                rc = SaveScreenshot(frame, screenshot_) ? 0 : 1;
                // A question still open runs a loop of its own, which a quit from inside it
                // would not end: answer it (as Cancel), then quit from the main loop.
                for (QWidget* top : QApplication::topLevelWidgets())
                    if (auto* dialog = qobject_cast<QDialog*>(top); dialog != nullptr && dialog->isVisible())
                        dialog->reject();
                // exit, not quit: quit would close the window, and its close asks again.
                QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
            });
        }
        const int loop = app.exec();
        if (printAfterMs_ < 0 && screenshot_.empty() && !quitWhenShown_) rc = loop;
    }
    return rc;
}

void Automation::RunSteps(CMainFrame& frame, std::size_t next, int& rc) {
    for (; next < steps_.size(); ++next) {
        const Step& step = steps_[next];
        if (step.kind == Step::Kind::Wait) {
            QTimer::singleShot(step.number, &frame,
                               [this, &frame, &rc, next] { RunSteps(frame, next + 1, rc); });
            return;
        }
        if (!RunStep(frame, step)) {
            rc = 2;
            QApplication::quit();
            return;
        }
    }
}

bool Automation::RunStep(CMainFrame& frame, const Step& step) {
    QWidget* form = frame.Form();
    switch (step.kind) {
        case Step::Kind::Click: {
            QAbstractButton* button = nullptr;
            for (const char* kind : {"button", "check"})
                if (button == nullptr && form != nullptr)
                    button = form->findChild<QAbstractButton*>(
                        QStringLiteral("%1%2").arg(QLatin1String(kind)).arg(step.number));
            if (button == nullptr || !button->isEnabled()) {
                std::fprintf(stderr, "kvt40: the form shown has no enabled button %d\n", step.number);
                return false;
            }
            button->click();
            return true;
        }
        case Step::Kind::Edit: {
            auto* edit = form != nullptr
                             ? form->findChild<QLineEdit*>(QStringLiteral("edit%1").arg(step.number))
                             : nullptr;
            if (edit == nullptr) {
                std::fprintf(stderr, "kvt40: the form shown has no edit box %d\n", step.number);
                return false;
            }
            edit->setText(QString::fromStdString(step.text));
            return true;
        }
        case Step::Kind::File: {
            auto* update = qobject_cast<CUpdateForm*>(form);
            if (update == nullptr) {
                std::fprintf(stderr, "kvt40: the form shown has no file dialog to answer\n");
                return false;
            }
            update->SetImageChooser([path = QString::fromStdString(step.text)] { return path; });
            return true;
        }
        case Step::Kind::Menu: {
            QAction* action = frame.Action(step.number);
            if (action == nullptr || !action->isEnabled()) {
                std::fprintf(stderr, "kvt40: the window has no enabled command %d\n", step.number);
                return false;
            }
            action->trigger();
            return true;
        }
        case Step::Kind::Form:
            // A form that may not be left keeps the window: that is what a screenshot shows.
            frame.OpenForm(step.number);
            return true;
        case Step::Kind::Wait:
            break;
    }
    return true;
}
