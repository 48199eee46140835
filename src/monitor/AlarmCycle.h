#pragma once
// The alarm monitor (147) without widgets: a 35 x 3 table of fixed texts whose 66 alarm
// cells take the Alarm role while their bit in 370..374 is set. Opening probes the five
// registers (400 ms) and consumes the reply; then every 500 ms tick reads the reply to the
// tick before and sends the next request, so colours first appear on the second tick.
//
//     AlarmCycle cycle(link, clock, &sink);
//     if (!cycle.Open()) return;            // "Unable to read meter data!" shown
//     for (int i = 0; i < 2; ++i) { clock.sleep(500); cycle.Tick(); }
//     for (const AlarmCycle::Active& a : cycle.ActiveAlarms()) ...

#include <string>
#include <vector>

#include "formkit/PollingCycle.h"
#include "link/MessageSink.h"

class AlarmCycle final : public PollingCycle {
public:
    static constexpr int kRows = 35;
    static constexpr int kCols = 3;
    static constexpr int kPollMs = 500;
    static constexpr int kStart = 370;
    static constexpr int kCount = 5;

    // The sink shows the opening's failure; none (the CLI) shows nothing.
    AlarmCycle(LinkState& link, Clock& clock, MessageSink* sink = nullptr);

    // The probe of 370..374 with its 400 ms wait; true when the timer is to start.
    bool Open() override;
    // Colours from a good reply, then the next request. The first tick after opening
    // finds nothing by design and is not judged; later ones are.
    bool Tick() override;
    int PollMs() const override { return kPollMs; }
    Discipline TimerDiscipline() const override { return Discipline::KeepRunning; }

    // The cell of each alarm bit: register 370 + word, bit; row -1 for a bit not shown.
    static CellPos CellOf(int word, int bit);
    // Roles of all 66 alarm cells from the five registers.
    void ApplyBits(const RegisterValues& regs);

    struct Active {
        int row;
        int col;
        std::string name;  // "Ua Upper limit", "Outlet 30 Current Upper limit"
    };
    // The cells in the Alarm role, in row then column order.
    std::vector<Active> ActiveAlarms() const;

private:
    MessageSink* sink_;
    bool outstanding_ = false;
};
