#pragma once
// The live measurement cycle of the line and the 30 outlets, without widgets: the form
// paints these cells on a 600 ms timer; kvt40ctl measure prints them.
//
// One full cycle from a terminal (what kvt40ctl measure does):
//     MeasuresCycle cycle(link, clock);
//     cycle.Open();                        // fixed texts; sends registers 0..9, step 0
//     for (int i = 0; i < 6; ++i) {
//         clock.sleep(MeasuresCycle::kPollMs);
//         const bool ok = i < 5 ? cycle.Tick() : cycle.LastTick();  // the last asks for nothing
//         if (!ok) { /* "Unable to read meter data!", exit 1 */ }
//     }
//     std::cout << cycle.Cells().Tsv();    // 33 lines of 7 tab-separated cells
//
// Each Tick reads the reply to the request the previous Tick (or Open) sent, so the
// six ticks cover 0/10, 10/72, 82/72, 154/72, 226/72 and 298/72; a sixth plain Tick would
// leave the next request (0/10) outstanding.

#include <cstdint>
#include <string>

#include "formkit/PollingCycle.h"
#include "link/MessageSink.h"
#include "monitor/ReadFailureText.h"

inline constexpr const char* kEnergyClearedText = "电度清除成功!";

class MeasuresCycle final : public PollingCycle {
public:
    static constexpr int kRows = 33;
    static constexpr int kCols = 7;
    static constexpr int kOutlets = 30;
    static constexpr int kPollMs = 600;
    static constexpr int kSteps = 6;

    MeasuresCycle(LinkState& link, Clock& clock);

    // Sends the request for registers 0..9 and sets the poll step to 0.
    bool Open() override;
    // One polling step: reads the reply, decodes it into the cells and sends the next
    // request. False when the reply fails its check: cells and step stay as they were.
    bool Tick() override;
    int PollMs() const override { return kPollMs; }
    // "Read data": probes 0..9 with a 300 ms wait; on success sends 0..9 again and sets the
    // step to 0 (the caller restarts its timer). On failure shows "Unable to read meter
    // data!" through the sink (when one is given) and returns false.
    bool ReadData(MessageSink* sink);
    // The energy-clear command for all 30 outlets with its waits (about 16 s on the clock),
    // then the success notice and ReadData. Returns ReadData's result.
    bool ClearEnergy(MessageSink* sink);

    const std::string& Cell(int row, int col) const { return cells_.Text(row, col); }

    // The step of the next tick's reply; Open starts it at 0.
    std::uint8_t PollStep() const { return step_; }
    void SetPollStep(std::uint8_t step) { step_ = step; }

    // Register start and count of the request sent after a reply to `step` was decoded.
    struct Request {
        int start;
        int count;
    };
    static Request RequestAfter(int step);

    // Cell formats, public for the tests and the CLI.
    static std::string FormatSigned16(std::int32_t reg, double scale, const char* fmt);
    static std::string FormatSigned32(std::int32_t lo, std::int32_t hi, double scale);
    static std::string FormatUnsigned32(std::int32_t lo, std::int32_t hi, double scale);

private:
    void DecodeLine(const RegisterValues& regs);
    void DecodeOutlet(int outlet, const std::int32_t* regs);

    std::uint8_t step_ = 0;
};
