// The demand cycle: the multiplier at opening, the units glued on, the clear command and
// its echo, against a scripted module and against the virtual module.
#include <gtest/gtest.h>

#include "monitor/DemandCycle.h"
#include "sim/SimPort.h"
#include "sim/VirtualBus.h"
#include "support/RecordingSink.h"
#include "support/ScriptedLink.h"
#include "support/SimLink.h"

namespace {

class DemandCycleTest : public ::testing::Test, protected ScriptedLink {
protected:
    bool Tick(DemandCycle& c) {
        clock.sleep(DemandCycle::kPollMs);
        return c.Tick();
    }

    RecordingSink sink;
};

TEST_F(DemandCycleTest, OpeningReadsTheMultiplierThenPollsTheDemand) {
    module.regs[40] = 1;
    module.regs[41] = 12345;
    module.regs[700] = 1500;    // Ia 1.500A
    module.regs[703] = 0xFFF6;  // Pa -10 -> -1.0W
    module.regs[706] = 0x86A0;  // Ptot 100000 -> 10000.0W
    module.regs[707] = 0x0001;
    module.regs[708] = 0xFFFF;  // unsigned: 65.535A
    DemandCycle c(link, clock, &sink);
    const auto t0 = clock.nowMs();
    ASSERT_TRUE(c.Open());
    EXPECT_EQ(clock.nowMs() - t0, 650);
    EXPECT_EQ(c.Multiplier(), 1);
    EXPECT_EQ(c.SecondValue(), 12345);  // 1048 bit 0 clear: kept whole
    EXPECT_EQ(module.ReadRequests(), (std::vector<std::pair<int, int>>{{40, 2}, {1048, 1}, {700, 16}}));
    EXPECT_EQ(module.writeTimesMs[1] - module.writeTimesMs[0], 250);

    ASSERT_TRUE(Tick(c));
    EXPECT_EQ(c.Cells().Text(2, 1), "1.500A");
    EXPECT_EQ(c.Cells().Text(2, 4), "-1.0W");
    EXPECT_EQ(c.Cells().Text(5, 4), "10000.0W");
    EXPECT_EQ(c.Cells().Text(8, 1), "65.535A");
    EXPECT_EQ(c.Cells().Text(11, 4), "0.0W");
    EXPECT_EQ(c.Cells().Tsv(0, 2), "\t\t实时需量\t\t\n电流\t\t\t功率\t\n");
    EXPECT_EQ(c.Cells().Tsv(5, 7), "\t\t\tPtot:\t10000.0W\n\t\t最大需量\t\t\n");
    EXPECT_EQ(module.ReadRequests().back(), (std::pair<int, int>{700, 16}));  // and the next one
    EXPECT_TRUE(sink.messages.empty());
}

TEST_F(DemandCycleTest, MultiplierZeroAndTwo) {
    EXPECT_EQ(DemandCycle::CurrentText(1500, 0), "0.000A");
    EXPECT_EQ(DemandCycle::PowerText(-10, 0), "0.0W");  // not -0.0W
    EXPECT_EQ(DemandCycle::PowerText(-10, 1), "-1.0W");
    EXPECT_EQ(DemandCycle::CurrentText(1500, 1), "1.500A");

    module.regs[40] = 2;
    module.regs[714] = 0xFFF6;  // Ptot maximum: low word first, -10
    module.regs[715] = 0xFFFF;
    module.regs[1048] = 1;
    module.regs[41] = 23456;
    DemandCycle c(link, clock, &sink);
    ASSERT_TRUE(c.Open());
    EXPECT_EQ(c.SecondValue(), 234);  // two decimals: divided by 100
    ASSERT_TRUE(Tick(c));
    EXPECT_EQ(c.Cells().Text(11, 4), "-2.0W");
}

TEST_F(DemandCycleTest, EitherOpeningRequestFailingStopsWithTheWarning) {
    for (int failing : {40, 1048}) {
        module.writes.clear();
        if (failing == 40)
            module.mute = true;
        else
            module.corruptNext = 1048;
        DemandCycle c(link, clock, &sink);
        EXPECT_FALSE(c.Open()) << failing;
        module.mute = false;
        ASSERT_EQ(sink.messages.size(), 1u);
        EXPECT_EQ(sink.messages[0].text, "无法读取仪表数据!");
        EXPECT_EQ(sink.messages[0].caption, "警告");
        EXPECT_EQ(sink.messages[0].icon, MsgIcon::Stop);
        sink.messages.clear();
        for (const auto& [start, count] : module.ReadRequests()) EXPECT_NE(start, 700);
        EXPECT_EQ(c.Cells().Text(2, 1), "");
    }
}

TEST_F(DemandCycleTest, AMissedPollReplyKeepsTheValuesAndTheNextRequestGoesOut) {
    module.regs[40] = 1;
    module.regs[700] = 1000;
    DemandCycle c(link, clock, &sink);
    ASSERT_TRUE(c.Open());
    ASSERT_TRUE(Tick(c));
    module.regs[700] = 2000;
    module.corruptNext = 700;
    // Replies are made as the request is written: the tick after next reads the corrupt one.
    ASSERT_TRUE(Tick(c));
    const auto sent = module.writes.size();
    EXPECT_FALSE(Tick(c));
    EXPECT_EQ(module.writes.size(), sent + 1);
    EXPECT_EQ(c.Cells().Text(2, 1), "1.000A");
    EXPECT_TRUE(Tick(c));
    EXPECT_EQ(c.Cells().Text(2, 1), "2.000A");
}

class DMDCycleOnVirtualModule : public ::testing::Test, protected SimLink {};

// On the virtual module: the clear command's frame, its echo and the demand that grows again.
TEST_F(DMDCycleOnVirtualModule, ClearSendsTheCommandAndTheEchoIsNotJudged) {
    clock.advanceMs(300 * 1000);  // the demand has risen by now

    DemandCycle c(link, clock);
    ASSERT_TRUE(c.Open());
    clock.sleep(DemandCycle::kPollMs);
    ASSERT_TRUE(c.Tick());
    const std::string before = c.Cells().Text(2, 1);
    EXPECT_NE(before, "0.000A");

    const auto t0 = clock.nowMs();
    const std::size_t sent = port.Sent().size();
    EXPECT_TRUE(c.Clear());
    EXPECT_EQ(clock.nowMs() - t0, 400);
    ASSERT_EQ(port.Sent().size(), sent + 1);
    EXPECT_EQ(port.Sent().back(), WithCrc({0x01, 0x10, 0x00, 0xFB, 0x00, 0x01, 0x02, 0x03, 0x78}));

    clock.sleep(DemandCycle::kPollMs);
    EXPECT_TRUE(c.Tick());  // after the clear: not judged, nothing shown
    EXPECT_EQ(c.Cells().Text(2, 1), before);
    clock.sleep(DemandCycle::kPollMs);
    ASSERT_TRUE(c.Tick());
    // Real-time and maximum demand restart near zero and grow again.
    const double cleared = std::stod(c.Cells().Text(8, 1));
    EXPECT_LT(cleared, std::stod(before) / 10);
    for (int i = 0; i < 120; ++i) {
        clock.sleep(DemandCycle::kPollMs);
        ASSERT_TRUE(c.Tick());
    }
    EXPECT_GT(std::stod(c.Cells().Text(8, 1)), cleared * 10);
    EXPECT_GT(std::stod(c.Cells().Text(2, 1)), std::stod(before) / 2);
}

}  // namespace
