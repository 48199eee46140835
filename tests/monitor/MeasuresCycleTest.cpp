#include <gtest/gtest.h>

#include <algorithm>

#include "monitor/MeasuresCycle.h"
#include "support/RecordingSink.h"
#include "support/ScriptedPort.h"

namespace {

class MeasuresCycleTest : public ::testing::Test {
protected:
    void SetUp() override {
        module.Open();
        module.answerReads = true;
        link.protocol = &rtu;
        link.port = &module;
        link.deviceAddress = 5;
    }
    std::vector<std::pair<int, int>> Requests() const { return module.ReadRequests(); }
    void RunCycle(MeasuresCycle& c) {
        c.Open();
        for (int i = 0; i < 6; ++i) {
            clock.sleep(MeasuresCycle::kPollMs);
            ASSERT_TRUE(c.Tick()) << "tick " << i;
        }
    }

    CModbusRtu rtu;
    VirtualClock clock;
    ScriptedPort module{clock};
    LinkState link;
};

TEST_F(MeasuresCycleTest, FixedTextsBeforeAnyReply) {
    MeasuresCycle c(link, clock);
    EXPECT_EQ(c.Cell(0, 0), "Line");
    EXPECT_EQ(c.Cell(0, 3), "VC (V)");
    EXPECT_EQ(c.Cell(0, 4), "");
    EXPECT_EQ(c.Cell(0, 5), "Frequency (Hz)");
    EXPECT_EQ(c.Cell(2, 0), "Outlet");
    EXPECT_EQ(c.Cell(2, 4), "Apparent power(va)");
    EXPECT_EQ(c.Cell(2, 6), "kvarh(kvarh)");
    EXPECT_EQ(c.Cell(3, 0), "1");
    EXPECT_EQ(c.Cell(32, 0), "30");
    EXPECT_EQ(c.Cell(1, 1), "");
    EXPECT_EQ(c.Cell(33, 0), "");  // outside the grid
    const std::string text = c.Cells().Tsv();
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 33);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\t'), 33 * 6);
}

TEST_F(MeasuresCycleTest, CycleOrderFramesAndStep) {
    MeasuresCycle c(link, clock);
    c.SetPollStep(4);
    RunCycle(c);
    const std::vector<std::pair<int, int>> want{{0, 10},   {10, 72},  {82, 72}, {154, 72},
                                                {226, 72}, {298, 72}, {0, 10}};
    EXPECT_EQ(Requests(), want);
    EXPECT_EQ(c.PollStep(), 0);
    // The first frame: address 5, function 3, start 0, count 10, CRC low byte first.
    const std::vector<std::uint8_t> probe{0x05, 0x03, 0x00, 0x00, 0x00, 0x0A, 0xC4, 0x49};
    EXPECT_EQ(module.writes.front(), probe);
}

TEST_F(MeasuresCycleTest, FormatsAndSignedness) {
    module.regs[0] = 22000;
    module.regs[1] = 21999;
    module.regs[2] = 0x8000;  // most negative voltage
    module.regs[9] = 5000;
    const int o1 = 10;
    module.regs[o1] = 0xFFFF;                                   // current -1 mA
    module.Set32(o1 + 1, 0xFFFFFFF6u);                          // active -1.0 W
    module.Set32(o1 + 3, static_cast<std::uint32_t>(-123456));  // reactive
    module.Set32(o1 + 5, 0xFFFFFFFFu);                          // apparent never negative
    module.Set32(o1 + 8, 0x00010002u);                          // low word first: 65538
    module.Set32(o1 + 10, 0xFFFFFFFFu);
    const int o30 = 10 + 12 * 29;
    module.regs[o30] = 1234;
    module.Set32(o30 + 1, 0x7FFFFFFFu);
    MeasuresCycle c(link, clock);
    RunCycle(c);

    EXPECT_EQ(c.Cell(1, 1), "220.0");
    EXPECT_EQ(c.Cell(1, 2), "220.0");  // 219.99 rounds
    EXPECT_EQ(c.Cell(1, 3), "-327.7");
    EXPECT_EQ(c.Cell(1, 5), "50.0");
    EXPECT_EQ(c.Cell(3, 1), "-0.001");
    EXPECT_EQ(c.Cell(3, 2), "-1.0");
    EXPECT_EQ(c.Cell(3, 3), "-12345.6");
    EXPECT_EQ(c.Cell(3, 4), "429496729.5");
    EXPECT_EQ(c.Cell(3, 5), "6553.8");
    EXPECT_EQ(c.Cell(3, 6), "429496729.5");
    EXPECT_EQ(c.Cell(32, 1), "1.234");
    EXPECT_EQ(c.Cell(32, 2), "214748364.7");
    EXPECT_EQ(c.Cell(4, 1), "0.000");
}

TEST_F(MeasuresCycleTest, FailedStepThreeKeepsStaleOutletsAndStops) {
    MeasuresCycle c(link, clock);
    for (int n = 1; n <= 30; ++n) module.regs[10 + 12 * (n - 1)] = 1000;  // 1.000 A everywhere
    RunCycle(c);
    for (int n = 1; n <= 30; ++n) module.regs[10 + 12 * (n - 1)] = 2000;
    module.corruptNext = 154;  // the reply read in step 3
    c.Open();
    ASSERT_TRUE(c.Tick());
    ASSERT_TRUE(c.Tick());
    ASSERT_TRUE(c.Tick());
    const auto before = module.writes.size();
    EXPECT_FALSE(c.Tick());
    EXPECT_EQ(c.PollStep(), 3);
    EXPECT_EQ(module.writes.size(), before);  // nothing sent after a failed check
    for (int n = 1; n <= 12; ++n) EXPECT_EQ(c.Cell(n + 2, 1), "2.000") << n;
    for (int n = 13; n <= 30; ++n) EXPECT_EQ(c.Cell(n + 2, 1), "1.000") << n;
    // Nothing waits now, so further ticks keep failing until the cycle is restarted.
    EXPECT_FALSE(c.Tick());
}

TEST_F(MeasuresCycleTest, ShortOrForeignRepliesFail) {
    MeasuresCycle c(link, clock);
    c.Open();
    module.answerReads = false;
    // A valid function-3 frame with too few registers for step 0.
    module.replies.push_back(WithCrc({0x05, 0x03, 0x02, 0x00, 0x01}));
    EXPECT_FALSE(c.Tick());
    EXPECT_EQ(c.Session().LastFailure(), ExchangeFailure::ShortReply);
    EXPECT_EQ(c.Cell(1, 1), "");
    module.replies.push_back(Frame(200, 0xFF));  // garbage filling the whole buffer
    EXPECT_FALSE(c.Tick());
    link.port = nullptr;  // no port at all is a failed tick, not a crash
    EXPECT_FALSE(c.Tick());
}

TEST_F(MeasuresCycleTest, ClosedPortStopsAtFirstTick) {
    module.Close();
    MeasuresCycle c(link, clock);
    c.Open();
    clock.sleep(600);
    EXPECT_FALSE(c.Tick());
    EXPECT_EQ(c.Cell(0, 0), "Line");
}

TEST_F(MeasuresCycleTest, ReadDataWaits300MsAndRestartsAtStepZero) {
    MeasuresCycle c(link, clock);
    c.SetPollStep(3);
    RecordingSink sink;
    const auto t0 = clock.nowMs();
    EXPECT_TRUE(c.ReadData(&sink));
    EXPECT_EQ(clock.nowMs() - t0, 300);
    EXPECT_TRUE(sink.messages.empty());
    EXPECT_EQ(c.PollStep(), 0);
    const std::vector<std::pair<int, int>> want{{0, 10}, {0, 10}};
    EXPECT_EQ(Requests(), want);
    EXPECT_EQ(c.Cell(1, 1), "");  // the probe's values are not shown
    EXPECT_TRUE(c.Tick());        // the second request's reply is waiting
}

TEST_F(MeasuresCycleTest, ReadDataFailureShowsWarning) {
    module.mute = true;
    MeasuresCycle c(link, clock);
    c.SetPollStep(2);
    RecordingSink sink;
    EXPECT_FALSE(c.ReadData(&sink));
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0].text, "Unable to read meter data!");
    EXPECT_EQ(sink.messages[0].caption, "Warning");
    EXPECT_EQ(sink.messages[0].icon, MsgIcon::Stop);
    EXPECT_EQ(c.PollStep(), 2);
    EXPECT_EQ(module.writes.size(), 1u);
}

TEST_F(MeasuresCycleTest, ClearEnergyWritesEveryOutletWithItsWaits) {
    MeasuresCycle c(link, clock);
    RecordingSink sink;
    const auto t0 = clock.nowMs();
    EXPECT_TRUE(c.ClearEnergy(&sink));
    EXPECT_EQ(clock.nowMs() - t0, 200 + 30 * 500 + 1000 + 300);
    ASSERT_EQ(module.writes.size(), 32u);
    for (int i = 0; i < 30; ++i) {
        const auto& f = module.writes[static_cast<std::size_t>(i)];
        ASSERT_EQ(f.size(), 9u + 12u);
        EXPECT_EQ(f[1], 0x10);
        EXPECT_EQ(f[2] << 8 | f[3], 9258);
        EXPECT_EQ(f[5], 6);
        EXPECT_EQ(f[7] << 8 | f[8], 999);
        EXPECT_EQ(f[9] << 8 | f[10], i);
        for (int k = 11; k < 19; ++k) EXPECT_EQ(f[static_cast<std::size_t>(k)], 0);
    }
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0].text, "电度清除成功!");
    EXPECT_EQ(sink.messages[0].caption, "KVT40");
}

}  // namespace
