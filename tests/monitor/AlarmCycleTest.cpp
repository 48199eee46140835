// The alarm cycle: every bit of 370..374 to its cell, the opening probe and the ticks.
#include <gtest/gtest.h>

#include <set>

#include "monitor/AlarmCycle.h"
#include "sim/SimPort.h"
#include "sim/VirtualBus.h"
#include "support/RecordingSink.h"
#include "support/ScriptedLink.h"
#include "support/SimLink.h"

namespace {

class AlarmCycleTest : public ::testing::Test, protected ScriptedLink {
protected:
    bool Tick(AlarmCycle& c) {
        clock.sleep(AlarmCycle::kPollMs);
        return c.Tick();
    }
    // The alarm cells (rows 1..3, 5..34; columns 1, 2) in the Alarm role.
    static std::set<std::pair<int, int>> Red(const AlarmCycle& c) {
        std::set<std::pair<int, int>> red;
        for (int r = 0; r < AlarmCycle::kRows; ++r)
            for (int col = 0; col < AlarmCycle::kCols; ++col)
                if (c.Cells().Role(r, col) == CellRole::Alarm) red.insert({r, col});
        return red;
    }
    static RegisterValues Regs(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d,
                               std::int32_t e) {
        return {a, b, c, d, e};
    }

    RecordingSink sink;
};

TEST_F(AlarmCycleTest, FixedTexts) {
    AlarmCycle c(link, clock);
    EXPECT_EQ(c.Cells().Tsv(0, 6),
              "Alarm Type\t\t\n\tUa Upper limit\tUa Lower limit\n\tUb Upper limit\tUb Lower limit\n"
              "\tUc Upper limit\tUc Lower limit\nOutlet:\t\t\n1\tCurrent Upper limit\tModule Communication "
              "fault\n");
    EXPECT_EQ(c.Cells().Tsv(34), "30\tCurrent Upper limit\tModule Communication fault\n");
    EXPECT_TRUE(Red(c).empty());
}

TEST_F(AlarmCycleTest, EachBitColoursItsOwnCell) {
    AlarmCycle c(link, clock);
    using S = std::set<std::pair<int, int>>;
    c.ApplyBits(Regs(0x0021, 0, 0, 0, 0));
    EXPECT_EQ(Red(c), (S{{1, 1}, {1, 2}}));  // Ua upper (bit 5) and Ua lower (bit 0)
    c.ApplyBits(Regs(0, 0, 0x2000, 0, 0x0001));
    EXPECT_EQ(Red(c), (S{{34, 1}, {21, 2}}));  // outlet 30 current, outlet 17 module
    c.ApplyBits(Regs(0x0018, 0x8001, 0, 0x8000, 0));
    EXPECT_EQ(Red(c), (S{{2, 1}, {3, 1}, {5, 1}, {20, 1}, {20, 2}}));
    // Bits 6..15 of 370 and 14, 15 of 372 and 374 are not shown.
    c.ApplyBits(Regs(0xFFC0, 0, 0xC000, 0, 0xC000));
    EXPECT_TRUE(Red(c).empty());

    // All 66 shown bits land on 66 different alarm cells.
    std::set<std::pair<int, int>> cells;
    for (int w = 0; w < 5; ++w)
        for (int b = 0; b < 16; ++b) {
            const CellPos p = AlarmCycle::CellOf(w, b);
            if (p.row < 0) continue;
            EXPECT_TRUE((p.row >= 1 && p.row <= 3) || (p.row >= 5 && p.row <= 34)) << w << "," << b;
            EXPECT_TRUE(p.col == 1 || p.col == 2);
            cells.insert({p.row, p.col});
        }
    EXPECT_EQ(cells.size(), 66u);
}

TEST_F(AlarmCycleTest, OpeningProbeConsumesItsReplySoColoursComeOnTheSecondTick) {
    module.regs[370] = 0x0021;
    AlarmCycle c(link, clock, &sink);
    const auto t0 = clock.nowMs();
    ASSERT_TRUE(c.Open());
    EXPECT_EQ(clock.nowMs() - t0, 400);
    EXPECT_TRUE(Red(c).empty());  // the probe's values are not shown
    EXPECT_TRUE(Tick(c));         // finds nothing: not judged
    EXPECT_TRUE(Red(c).empty());
    EXPECT_TRUE(Tick(c));
    EXPECT_EQ(Red(c).size(), 2u);
    std::vector<std::pair<int, int>> want(3, {370, 5});
    EXPECT_EQ(module.ReadRequests(), want);
    EXPECT_EQ(module.writes[0], WithCrc({0x01, 0x03, 0x01, 0x72, 0x00, 0x05}));

    // An alarm that clears goes back to the ordinary colour on the next good reply; a
    // missed reply leaves the colours and the next request still goes out.
    module.regs[370] = 0;
    module.mute = true;
    EXPECT_TRUE(Tick(c));  // the reply written before the module fell silent
    EXPECT_FALSE(Tick(c));
    EXPECT_EQ(Red(c).size(), 2u);
    module.mute = false;
    EXPECT_FALSE(Tick(c));  // the silent tick's request went unanswered too
    EXPECT_TRUE(Tick(c));
    EXPECT_TRUE(Red(c).empty());
    EXPECT_TRUE(sink.messages.empty());
}

TEST_F(AlarmCycleTest, NoAnswerAtOpening) {
    module.mute = true;
    AlarmCycle c(link, clock, &sink);
    EXPECT_FALSE(c.Open());
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0].text, "Unable to read meter data!");
    EXPECT_EQ(sink.messages[0].caption, "Warning");
    EXPECT_EQ(sink.messages[0].icon, MsgIcon::Stop);
}

TEST_F(AlarmCycleTest, ActiveAlarmsNameTheirCells) {
    AlarmCycle c(link, clock);
    c.ApplyBits(Regs(0x0004, 0, 0x2000, 0, 0x0001));
    const auto active = c.ActiveAlarms();
    ASSERT_EQ(active.size(), 3u);
    EXPECT_EQ(active[0].row, 3);
    EXPECT_EQ(active[0].col, 2);
    EXPECT_EQ(active[0].name, "Uc Lower limit");
    EXPECT_EQ(active[1].row, 21);
    EXPECT_EQ(active[1].name, "Outlet 17 Module Communication fault");
    EXPECT_EQ(active[2].row, 34);
    EXPECT_EQ(active[2].col, 1);
    EXPECT_EQ(active[2].name, "Outlet 30 Current Upper limit");
}

class AlarmCycleOnVirtualModule : public ::testing::Test, protected SimLink {};

// On the virtual module the current alarm of outlet 30 comes and goes by itself, and a
// voltage limit below the reading raises its alarm.
TEST_F(AlarmCycleOnVirtualModule, AlarmsComeAndGoAsReadingsAndLimitsCross) {
    AlarmCycle c(link, clock);
    ASSERT_TRUE(c.Open());
    int on = 0;
    int changes = 0;
    bool was = false;
    for (int i = 0; i < 200; ++i) {  // 100 s
        clock.sleep(AlarmCycle::kPollMs);
        ASSERT_TRUE(c.Tick());
        const bool now = c.Cells().Role(34, 1) == CellRole::Alarm;
        on += now ? 1 : 0;
        changes += now != was ? 1 : 0;
        was = now;
    }
    EXPECT_GE(changes, 4);
    EXPECT_GT(on, 10);
    EXPECT_LT(on, 60);
    EXPECT_EQ(c.Cells().Role(1, 1), CellRole::Normal);
    bus.SetRegister(1, 504, 21000);  // Ua upper limit 210 V, below the reading
    for (int i = 0; i < 2; ++i) {
        clock.sleep(AlarmCycle::kPollMs);
        ASSERT_TRUE(c.Tick());
    }
    EXPECT_EQ(c.Cells().Role(1, 1), CellRole::Alarm);
    EXPECT_EQ(c.Cells().Role(3, 1), CellRole::Alarm);
}

}  // namespace
