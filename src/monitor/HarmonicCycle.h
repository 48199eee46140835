#pragma once
// The pages of the harmonics view (142) without widgets. Only the visible page polls,
// every 500 ms, each tick showing the reply to the request of the tick before; a page's
// Open is its being shown (a fresh first request), and hiding it stops its timer and
// settles the reply still on its way.
//
//   ThdCycle            registers 800..805 into a 4 x 4 table ("3.5%").
//   HarmonicChartCycle  one chart page: three phases of 30 orders (2 to 31), one phase per
//                       tick, A, B, C and round again; Open restarts at phase A.
//
//     HarmonicChartCycle volts(link, clock, HarmonicChartCycle::Kind::Voltage);
//     volts.Open();                        // sends 806/30
//     for (int i = 0; i < 2; ++i) { clock.sleep(500); volts.Tick(); }   // A, B
//     clock.sleep(500); volts.LastTick();  // C, and nothing more asked for
//     volts.Bars(1);                       // the 30 values of phase B
//     std::cout << volts.Cells().Tsv();    // per chart: title, then 30 x "%0.02f"

#include <array>
#include <string>

#include "formkit/PollingCycle.h"

class ThdCycle final : public PollingCycle {
public:
    static constexpr int kRows = 4;
    static constexpr int kCols = 4;
    static constexpr int kPollMs = 500;
    static constexpr int kStart = 800;
    static constexpr int kCount = 6;

    ThdCycle(LinkState& link, Clock& clock);
    // The page shown: sends 800/6.
    bool Open() override;
    // Shows a good reply and sends 800/6 again; false when the reply failed its check.
    bool Tick() override;
    int PollMs() const override { return kPollMs; }
    Discipline TimerDiscipline() const override { return Discipline::KeepRunning; }
};

class HarmonicChartCycle final : public PollingCycle {
public:
    enum class Kind { Voltage, Current };
    static constexpr int kPhases = 3;
    static constexpr int kOrders = 30;  // orders 2 to 31
    static constexpr int kFirstOrder = 2;
    static constexpr int kPollMs = 500;

    HarmonicChartCycle(LinkState& link, Clock& clock, Kind kind);

    // The page shown: phase A, sends base/30.
    bool Open() override;
    // A good reply fills the chart of the current phase; either way the next phase's
    // request goes out and the phase advances. False when the reply failed its check.
    bool Tick() override;
    int PollMs() const override { return kPollMs; }
    Discipline TimerDiscipline() const override { return Discipline::KeepRunning; }

    Kind ChartKind() const { return kind_; }
    // 806 for the voltages, 896 for the currents.
    int Base() const { return kind_ == Kind::Voltage ? 806 : 896; }
    // The phase (0 A, 1 B, 2 C) the next reply belongs to.
    int Phase() const { return phase_; }
    // The chart of each phase: its title, its values (register x 0.1) and whether they
    // changed since the last TakeFilled.
    static std::string Title(Kind kind, int phase);
    const std::string& Title(int phase) const { return titles_[static_cast<std::size_t>(phase)]; }
    const std::array<double, kOrders>& Bars(int phase) const {
        return bars_[static_cast<std::size_t>(phase)];
    }
    bool Filled(int phase) const { return filled_[static_cast<std::size_t>(phase)]; }
    // The phase whose chart a tick refilled, once; -1 when none since the last call.
    int TakeRefilled();

private:
    Kind kind_;
    int phase_ = 0;
    int refilled_ = -1;
    std::array<std::string, kPhases> titles_;
    std::array<std::array<double, kOrders>, kPhases> bars_{};
    std::array<bool, kPhases> filled_{};
};
