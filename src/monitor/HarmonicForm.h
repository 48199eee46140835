#pragma once
// View 142, the harmonics: a tab control with the THD table and two pages of three bar
// charts (voltage and current harmonic content, orders 2 to 31, one chart per phase).
// Only the visible page polls, every 500 ms; showing a page sends its first request and
// starts its timer, hiding it stops the timer and waits out the reply still on its way (so
// the page shown next never takes another page's or phase's values). A chart page
// refreshes one phase per tick and restarts at phase A whenever it is shown.

#include <QTimer>
#include <array>

#include "formkit/FormContext.h"
#include "formkit/FormView.h"
#include "formkit/PollingForm.h"
#include "monitor/HarmonicCycle.h"

class CBarChart;
class QFrame;
class QTabWidget;

inline constexpr const char* kChartCreateFailedText = "不能创建图表控件!";

// The THD page (layout 146): its 4 x 4 grid on the polling base.
class CHarmonicThdPage : public CPollingForm {
    Q_OBJECT
public:
    static constexpr int kPageId = 146;
    CHarmonicThdPage(FormContext& ctx, QWidget* parent = nullptr);
    void ShowPage();
    void HidePage() { StopTimer(); }  // which settles the reply in flight
    ThdCycle& Thd() const { return static_cast<ThdCycle&>(Cycle()); }

protected:
    void SetUpGrid() override;

private:
    bool initialised_ = false;
};

// A chart page (layout 103 for the voltages, 145 for the currents): three frames, one
// chart over each.
class CHarmonicChartPage : public QWidget {
    Q_OBJECT
public:
    CHarmonicChartPage(FormContext& ctx, HarmonicChartCycle::Kind kind, QWidget* parent = nullptr);
    ~CHarmonicChartPage() override;

    void ShowPage();
    void HidePage();
    // One timer shot (tests call it with the time passed on their clock).
    void OnTimer();

    bool TimerActive() const { return timer_.isActive(); }
    int TimerIntervalMs() const { return timer_.interval(); }
    CBarChart* Chart(int phase) const { return charts_[static_cast<std::size_t>(phase)]; }
    HarmonicChartCycle& Harmonics() { return cycle_; }
    static QColor PhaseColour(int phase);

private:
    HarmonicChartCycle cycle_;
    QTimer timer_;
    std::array<QFrame*, HarmonicChartCycle::kPhases> frames_{};
    std::array<CBarChart*, HarmonicChartCycle::kPhases> charts_{};
};

class CHarmonicForm : public CFormView {
    Q_OBJECT
public:
    static constexpr int kFormId = 142;
    static constexpr int kTabId = 1007;

    CHarmonicForm(FormContext& ctx, QWidget* parent = nullptr);

    void OnInitialUpdate() override;
    // The selected tab's page is shown (and polls), the other two hidden.
    void OnTabChanged(int index);

    QTabWidget* Tabs() const { return tabs_; }
    CHarmonicThdPage* ThdPage() const { return thd_; }
    CHarmonicChartPage* VoltagePage() const { return volts_; }
    CHarmonicChartPage* CurrentPage() const { return amps_; }

private:
    QTabWidget* tabs_;
    CHarmonicThdPage* thd_;
    CHarmonicChartPage* volts_;
    CHarmonicChartPage* amps_;
};
