// The circuit totals cycle against a scripted module on the virtual clock.
#include <gtest/gtest.h>

#include "monitor/CircuitTotalsCycle.h"
#include "support/RecordingSink.h"
#include "support/ScriptedLink.h"

namespace {

class CircuitTotalsCycleTest : public ::testing::Test, protected ScriptedLink {
protected:
    bool Tick(CircuitTotalsCycle& c) {
        clock.sleep(CircuitTotalsCycle::kPollMs);
        return c.Tick();
    }
};

TEST_F(CircuitTotalsCycleTest, OneRequestOfSixtyRegistersFillsTheTenCircuits) {
    CircuitTotalsCycle c(link, clock);
    EXPECT_EQ(c.Cells().Tsv(0, 2),
              "\tTotal Active power (W)\tTotal Reactive power (var)\tTotal kWh(kWh)\nCircuit 1\t\t\t\n");
    EXPECT_EQ(c.Cells().Text(10, 0), "Circuit 10");
    module.Set32(2000, 0xFFFFFFF6u);       // circuit 1 active -1.0 W
    module.Set32(2020, 123456);            // circuit 1 reactive
    module.Set32(2040 + 18, 0xFFFFFFFFu);  // circuit 10 energy, all ones
    module.Set32(2000 + 18, 0x80000000u);  // circuit 10 active, most negative

    ASSERT_TRUE(c.Open());
    ASSERT_TRUE(Tick(c));
    EXPECT_EQ(module.writes.at(0), WithCrc({0x01, 0x03, 0x07, 0xD0, 0x00, 0x3C}));
    EXPECT_EQ(c.Cells().Text(1, 1), "-1.0");
    EXPECT_EQ(c.Cells().Text(1, 2), "12345.6");
    EXPECT_EQ(c.Cells().Text(1, 3), "0.0");
    EXPECT_EQ(c.Cells().Text(10, 3), "429496729.5");
    EXPECT_EQ(c.Cells().Text(10, 1), "-214748364.8");
    EXPECT_EQ(c.Readings(), 1);
}

TEST_F(CircuitTotalsCycleTest, LaterTicksOnlyCollectAndAreNotJudged) {
    CircuitTotalsCycle c(link, clock);
    module.Set32(2000, 100);
    c.Open();
    ASSERT_TRUE(Tick(c));
    module.Set32(2000, 200);
    for (int i = 0; i < 5; ++i) EXPECT_TRUE(Tick(c)) << i;  // nothing waits, nothing judged
    EXPECT_EQ(module.writes.size(), 1u);                    // the ticks send nothing
    EXPECT_EQ(c.Cells().Text(1, 1), "10.0");
    EXPECT_EQ(c.Readings(), 1);
    c.Open();
    ASSERT_TRUE(Tick(c));
    EXPECT_EQ(c.Cells().Text(1, 1), "20.0");
}

TEST_F(CircuitTotalsCycleTest, TheReplyToARequestIsJudged) {
    CircuitTotalsCycle c(link, clock);
    module.mute = true;
    c.Open();
    EXPECT_FALSE(Tick(c));
    EXPECT_TRUE(Tick(c));  // no request outstanding any more
    module.mute = false;
    module.corruptNext = 2000;
    c.Open();
    EXPECT_FALSE(Tick(c));
    EXPECT_EQ(c.Cells().Text(1, 1), "");
}

TEST_F(CircuitTotalsCycleTest, ReadDataTwiceShowsTheSecondReply) {
    CircuitTotalsCycle c(link, clock);
    module.Set32(2000, 10);
    c.Open();
    module.Set32(2000, 20);
    c.Open();  // purges the first reply
    ASSERT_TRUE(Tick(c));
    EXPECT_EQ(c.Cells().Text(1, 1), "2.0");
    EXPECT_EQ(module.writes.size(), 2u);
}

TEST_F(CircuitTotalsCycleTest, ClearEnergyWritesOneCircuitWaitsAndSaysSo) {
    CircuitTotalsCycle c(link, clock);
    RecordingSink sink;
    const auto t0 = clock.nowMs();
    ASSERT_TRUE(c.ClearEnergy(3, &sink));
    ASSERT_EQ(module.writes.size(), 1u);
    EXPECT_EQ(module.writes[0], WithCrc({0x01, 0x10, 0x24, 0x2A, 0x00, 0x06, 0x0C, 0x03, 0xE7, 0x00, 0x02, 0,
                                         0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(module.writeTimesMs[0] - t0, 200);
    EXPECT_EQ(clock.nowMs() - t0, 5200);
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0].text, "电度清除成功!");
    EXPECT_EQ(sink.messages[0].caption, "KVT40");

    // A circuit the module does not have is refused before anything is sent.
    EXPECT_FALSE(c.ClearEnergy(0, &sink));
    EXPECT_FALSE(c.ClearEnergy(31, &sink));
    EXPECT_EQ(module.writes.size(), 1u);
    EXPECT_EQ(sink.messages.size(), 1u);
}

TEST_F(CircuitTotalsCycleTest, PresentCtModulesFromTheCountAndTheFaultBits) {
    using V = std::vector<int>;
    EXPECT_EQ(CircuitTotalsCycle::PresentModules(0, 0, 0), V{});
    EXPECT_EQ(CircuitTotalsCycle::PresentModules(31, 0, 0), V{});
    EXPECT_EQ(CircuitTotalsCycle::PresentModules(4, 0x0002, 0), (V{1, 3, 4}));
    // Modules 17 to 30 are bits 0 to 13 of 374; bits of modules beyond the count are ignored.
    EXPECT_EQ(CircuitTotalsCycle::PresentModules(18, 0xFFFE, 0x0001), (V{1, 18}));
    EXPECT_EQ(CircuitTotalsCycle::PresentModules(30, 0xFFFF, 0x1FFF), (V{30}));

    module.regs[503] = 5;
    module.regs[373] = 0x0004;  // module 3 faulted
    const auto t0 = clock.nowMs();
    CircuitTotalsCycle c(link, clock);
    EXPECT_EQ(c.ReadCtModules(), (V{1, 2, 4, 5}));
    EXPECT_EQ(clock.nowMs() - t0, 400);
    EXPECT_EQ(module.ReadRequests(), (std::vector<std::pair<int, int>>{{503, 1}, {373, 2}}));
    // No presence words: no module.
    module.mute = true;
    EXPECT_EQ(c.ReadCtModules(), V{});
}

}  // namespace
