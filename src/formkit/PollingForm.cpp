#include "formkit/PollingForm.h"

#include "formkit/CellColours.h"
#include "formkit/CellPainter.h"
#include "widgets/GridCtrl.h"

CPollingForm::CPollingForm(int formId, FormContext& ctx, std::unique_ptr<PollingCycle> cycle, QWidget* parent)
    : CFormView(formId, parent), ctx_(ctx), cycle_(std::move(cycle)) {
    // A coarse timer may fire 5 % late; cycles are measured against their period.
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(cycle_->PollMs());
    connect(&timer_, &QTimer::timeout, this, &CPollingForm::OnTimer);
    grid_ = new CGridCtrl(this);
    grid_->setObjectName(QStringLiteral("grid1002"));
    grid_->SetDefaultBkColour(cellcolours::kNormal);
}

// A form that goes leaves no reply on its way for the next form's first request.
CPollingForm::~CPollingForm() {
    timer_.stop();
    cycle_->Settle();
}

void CPollingForm::OnInitialUpdate() {
    const CellTable& cells = cycle_->Cells();
    grid_->SetRowCount(cells.Rows());
    grid_->SetColumnCount(cells.Cols());
    SetUpGrid();
    const bool run = cycle_->Open();
    PaintChanged();
    grid_->Refit();
    if (run) timer_.start(cycle_->PollMs());
}

void CPollingForm::OnTimer() {
    const bool stopFirst = cycle_->TimerDiscipline() == PollingCycle::Discipline::StopTickRestart;
    if (stopFirst) timer_.stop();
    const bool ok = cycle_->Tick();
    PaintChanged();
    if (!ok) {
        // A lost port stops every cycle, whatever its discipline: nothing can answer any more.
        const bool lost = cycle_->Session().LastFailure() == ExchangeFailure::PortLost;
        if (lost) timer_.stop();
        if (stopFirst || lost) ReportStopped();
        return;
    }
    if (stopFirst) RestartTimer();
    emit TickPassed();
}

void CPollingForm::RestartTimer() {
    timer_.start(cycle_->PollMs());
    if (!stopNotice_.isEmpty()) {
        stopNotice_.clear();
        emit PollingResumed();
    }
}

void CPollingForm::ReportStopped() {
    const ModbusSession& s = cycle_->Session();
    const std::string what = FailureText(s.LastExchange());
    // A lost port is not resumed by the form's button: the notice says only what happened.
    if (s.LastFailure() == ExchangeFailure::PortLost)
        stopNotice_ = QString::fromStdString(what);
    else
        stopNotice_ = QString::fromStdString(what + " at " + FormatClockTime(ctx_.wall.Now())) +
                      QStringLiteral("; ") + ResumeHint();
    emit PollingStopped(stopNotice_);
}

void CPollingForm::PaintChanged() {
    PaintChangedCells(*grid_, cycle_->Cells());
}
