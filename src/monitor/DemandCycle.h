#pragma once
// The demand view (139) without widgets: the multiplier and second value at opening, then
// registers 700..715 every 500 ms, each tick showing the reply to the request of the tick
// before. The timer keeps running whatever a tick finds.
//
//     DemandCycle cycle(link, clock, &sink);
//     if (!cycle.Open()) return;             // "无法读取仪表数据!" / "警告" shown
//     clock.sleep(DemandCycle::kPollMs);
//     cycle.Tick();                          // the 14 values, units glued on ("1.500A")
//     cycle.Clear();                         // register 251 = 888, echo judged; "需量清除成功！"

#include <cstdint>
#include <string>

#include "formkit/PollingCycle.h"
#include "link/MessageSink.h"

inline constexpr const char* kDemandUnableText = "无法读取仪表数据!";
inline constexpr const char* kDemandUnableCaption = "警告";
inline constexpr const char* kDemandClearedText = "需量清除成功！";
// Asked before "清除": the maximum demand cannot be read back once cleared.
inline constexpr const char* kDemandClearQuestion =
    "清除将删除模块记录的最大需量（Ia、Ib、Ic、Pa、Pb、Pc、Ptot），清除后无法恢复。是否清除？";
inline constexpr const char* kDemandClearCaption = "KVT40";

class DemandCycle final : public PollingCycle {
public:
    static constexpr int kRows = 12;
    static constexpr int kCols = 5;
    static constexpr int kPollMs = 500;
    static constexpr int kStart = 700;
    static constexpr int kCount = 16;

    // The sink shows the opening's failure; none (the CLI) shows nothing.
    DemandCycle(LinkState& link, Clock& clock, MessageSink* sink = nullptr);

    // Reads 40..41 (250 ms) and 1048 (400 ms); on success sends 700/16 and returns true.
    bool Open() override;
    // Shows a good reply, then sends 700/16 again. False only when a reply it judges
    // failed: the one after the clear command finds the command's echo and is not judged.
    bool Tick() override;
    int PollMs() const override { return kPollMs; }
    Discipline TimerDiscipline() const override { return Discipline::KeepRunning; }

    // "清除" between stopping and restarting the timer: 200 ms, the clear command, 200 ms,
    // then its echo read. The form restarts the timer and shows kDemandClearedText whatever
    // the module answered; kvt40ctl trusts only a good echo (true; otherwise the session's
    // LastFailure says why).
    bool Clear();

    std::uint16_t Multiplier() const { return multiplier_; }
    std::uint16_t SecondValue() const { return second_; }

    // "%0.3f" of raw x M x 0.001, then "A"; the powers "%0.1f" of raw x M x 0.1, then "W".
    // Raw times M is taken in integers, so M = 0 shows 0.0W, never -0.0W.
    static std::string CurrentText(std::int32_t raw, std::uint16_t m);
    static std::string PowerText(std::int64_t raw, std::uint16_t m);

private:
    void Decode(const RegisterValues& r);

    MessageSink* sink_;
    std::uint16_t multiplier_ = 0;
    std::uint16_t second_ = 0;
    bool echoPending_ = false;
};
