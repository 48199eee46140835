#pragma once
// The base of the polling forms: owns the grid and the timer, runs its cycle's Open at
// the initial update and a Tick on every timer shot with the cycle's timer discipline,
// and paints only the cells that changed. When a stop-tick-restart cycle stops on a
// failed reply it says so (PollingStopped, with the notice the status bar shows) until
// the cycle runs again (PollingResumed).
//
// A form derives, builds its buttons around Grid() and sets the grid up in SetUpGrid:
//     class CMyForm : public CPollingForm {
//         CMyForm(FormContext& ctx, QWidget* parent)
//             : CPollingForm(kFormId, ctx, std::make_unique<MyCycle>(ctx.link, ctx.clock), parent) {}
//         void SetUpGrid() override { Grid().SetColumnWidthPx(0, 50); ... }
//     };

#include <QColor>
#include <QString>
#include <QTimer>
#include <memory>

#include "formkit/FormContext.h"
#include "formkit/FormView.h"
#include "formkit/PollingCycle.h"

class CGridCtrl;

class CPollingForm : public CFormView {
    Q_OBJECT
public:
    CPollingForm(int formId, FormContext& ctx, std::unique_ptr<PollingCycle> cycle, QWidget* parent);
    ~CPollingForm() override;

    // Grid set-up, the cycle's opening exchange, the first paint and the timer.
    void OnInitialUpdate() override;
    // One timer shot (tests call it directly, with the time passed on their clock).
    void OnTimer();

    bool TimerActive() const { return timer_.isActive(); }
    int TimerIntervalMs() const { return timer_.interval(); }
    CGridCtrl& Grid() const { return *grid_; }
    // What the status bar shows while the cycle is stopped; empty while it runs.
    QString StopNotice() const { return stopNotice_; }

signals:
    void PollingStopped(const QString& notice);
    void PollingResumed();
    // A tick passed (forms use it to tell a whole cycle from a step).
    void TickPassed();

protected:
    PollingCycle& Cycle() const { return *cycle_; }
    FormContext& Context() const { return ctx_; }
    // Rows, columns, widths, alignments; the cells' texts come from the cycle.
    virtual void SetUpGrid() {}
    // How the user restarts a stopped cycle, as the notice says it.
    virtual QString ResumeHint() const { return QStringLiteral("Read data resumes"); }
    // Restarts the timer (after a button's exchange succeeded) and clears the notice.
    void RestartTimer();
    // Stops the timer before a button's own exchange, and waits out the reply of the last
    // tick still on its way, so the exchange never reads it as its own.
    void StopTimer() {
        timer_.stop();
        cycle_->Settle();
    }
    void PaintChanged();

private:
    void ReportStopped();

    FormContext& ctx_;
    std::unique_ptr<PollingCycle> cycle_;
    QTimer timer_;
    CGridCtrl* grid_;
    QString stopNotice_;
};
