#pragma once
// The live measurement cycle of the line and the 30 outlets, without widgets: the form
// places these cell texts in its grid on a 600 ms timer; kvt40ctl measure prints them.
//
// One full cycle from a terminal (what kvt40ctl measure does):
//     MeasuresCycle cycle(TheLink(), clock);
//     cycle.Start();                       // sends registers 0..9, step 0
//     for (int i = 0; i < 6; ++i) {
//         clock.sleep(600);
//         if (!cycle.Tick()) { /* "Unable to read meter data!", exit 1 */ }
//     }
//     for r in 0..32: print cycle.Cell(r, 0) .. cycle.Cell(r, 6) joined by tabs
//
// Each Tick reads the reply to the request the previous Tick (or Start) sent, so the
// six ticks cover 0/10, 10/72, 82/72, 154/72, 226/72 and 298/72 and leave the next
// request (0/10) outstanding.

#include <array>
#include <cstdint>
#include <string>

#include "link/Clock.h"
#include "link/LinkState.h"
#include "link/MessageSink.h"

inline constexpr const char* kUnableToReadText = "Unable to read meter data!";
inline constexpr const char* kEnergyClearedText = "电度清除成功!";

class MeasuresCycle {
public:
    static constexpr int kRows = 33;
    static constexpr int kCols = 7;
    static constexpr int kOutlets = 30;
    static constexpr int kPollMs = 600;

    MeasuresCycle(LinkState& link, Clock& clock);

    // Sends the request for registers 0..9 and sets the poll step to 0.
    void Start();
    // One polling step: reads up to 200 bytes, decodes them into the grid and sends the
    // next request. False when the reply fails its check: grid and step stay as they were.
    bool Tick();
    // "Read data": probes 0..9 with a 300 ms wait; on success sends 0..9 again and sets the
    // step to 0 (the caller restarts its timer). On failure shows "Unable to read meter
    // data!" through the sink (when one is given) and returns false.
    bool ReadData(MessageSink* sink);
    // The energy-clear command for all 30 outlets with its waits (about 16 s on the clock),
    // then the success notice and ReadData. Returns ReadData's result.
    bool ClearEnergy(MessageSink* sink);

    const std::string& Cell(int row, int col) const;
    // The whole grid: 33 lines of 7 tab-separated cells, each line ending in '\n'.
    std::string GridText() const;

    // The poll step is held once for the program, not per form.
    static std::uint8_t PollStep();
    static void SetPollStep(std::uint8_t step);

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
    void Send(int start, int count);
    void SetCell(int row, int col, std::string text);
    void DecodeLine(const std::int32_t* regs);
    void DecodeOutlet(int outlet, const std::int32_t* regs);

    LinkState& link_;
    Clock& clock_;
    std::array<std::array<std::string, kCols>, kRows> cells_{};
};
