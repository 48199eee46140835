#pragma once
// The circuit totals of view 140 without widgets: one request of 60 registers from 2000
// at opening and on "Read data"; the 600 ms timer only collects. Ticks after the one reply
// find nothing by design and leave the cells alone.
//
//     CircuitTotalsCycle cycle(link, clock);
//     cycle.Open();                          // sends 2000/60
//     clock.sleep(CircuitTotalsCycle::kPollMs);
//     if (!cycle.Tick()) { /* the reply failed its check */ }
//     std::cout << cycle.Cells().Tsv();      // 11 lines of 4 cells
//
// The hidden clear-energy and CT-module buttons' exchanges live here too.

#include <cstdint>
#include <string>
#include <vector>

#include "formkit/PollingCycle.h"
#include "link/MessageSink.h"

class CircuitTotalsCycle final : public PollingCycle {
public:
    static constexpr int kRows = 11;
    static constexpr int kCols = 4;
    static constexpr int kCircuits = 10;
    static constexpr int kPollMs = 600;
    static constexpr int kStart = 2000;
    static constexpr int kCount = 60;

    CircuitTotalsCycle(LinkState& link, Clock& clock);

    // Sends the request for 2000..2059; the timer always starts.
    bool Open() override;
    // Collects what waits. True unless the reply to a request sent by Open (also "Read data")
    // failed its check; a tick with no request outstanding is not judged.
    bool Tick() override;
    int PollMs() const override { return kPollMs; }
    // Ticks run on whatever they find; the timer is restarted after every one.
    Discipline TimerDiscipline() const override { return Discipline::KeepRunning; }

    // Good replies decoded so far (a form repaints cells the user typed over after each).
    int Readings() const { return readings_; }

    // Hidden "清除电度": the energy-clear command for one circuit (1..30) with its waits
    // (200 ms, then 5000 ms), then "电度清除成功!". A circuit outside 1..30 sends nothing
    // and returns false.
    bool ClearEnergy(int circuit, MessageSink* sink);
    // Hidden "读取CT模块": the present modules' numbers, in list order.
    std::vector<int> ReadCtModules();
    // The list from a module count and the presence words 373, 374 (a clear bit is a
    // present module).
    static std::vector<int> PresentModules(int count, std::int32_t reg373, std::int32_t reg374);

private:
    bool outstanding_ = false;
    int readings_ = 0;
};
