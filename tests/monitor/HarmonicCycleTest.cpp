// The harmonics pages' cycles: the THD table and the chart pages' phase rotation.
#include <gtest/gtest.h>

#include "monitor/HarmonicCycle.h"
#include "sim/SimPort.h"
#include "sim/VirtualBus.h"
#include "support/ScriptedLink.h"
#include "support/SimLink.h"

namespace {

class HarmonicCycleTest : public ::testing::Test, protected ScriptedLink {
protected:
    template <typename C>
    bool Tick(C& c) {
        clock.sleep(500);
        return c.Tick();
    }
};

TEST_F(HarmonicCycleTest, ThdTableFormatsTenthsOfAPercent) {
    module.regs[800] = 35;
    module.regs[801] = 0;
    module.regs[805] = 1234;
    ThdCycle c(link, clock);
    EXPECT_EQ(c.Cells().Tsv(), "\t\tTHD\t\n\tA相\tB相\tC相\n电压\t\t\t\n电流\t\t\t\n");
    c.Open();
    ASSERT_TRUE(Tick(c));
    EXPECT_EQ(c.Cells().Tsv(2), "电压\t3.5%\t0.0%\t0.0%\n电流\t0.0%\t0.0%\t123.4%\n");
    EXPECT_EQ(module.ReadRequests(), (std::vector<std::pair<int, int>>{{800, 6}, {800, 6}}));
    // A missing reply leaves the table; the next request goes out regardless.
    module.mute = true;
    module.regs[800] = 99;
    ASSERT_TRUE(Tick(c));  // the reply written before the module fell silent
    EXPECT_FALSE(Tick(c));
    EXPECT_EQ(c.Cells().Text(2, 1), "3.5%");
    EXPECT_EQ(module.ReadRequests().size(), 4u);
}

TEST_F(HarmonicCycleTest, ChartPagesRotateOnePhasePerTickAndRestartAtA) {
    for (int k = 0; k < 30; ++k) {
        module.regs[806 + k] = static_cast<std::uint16_t>(k);        // phase A voltage
        module.regs[836 + k] = static_cast<std::uint16_t>(100 + k);  // phase B
        module.regs[866 + k] = static_cast<std::uint16_t>(200 + k);  // phase C
    }
    module.regs[806] = 123;  // order 2: 12.3
    module.regs[835] = 300;  // order 31: 30.0, full height
    HarmonicChartCycle v(link, clock, HarmonicChartCycle::Kind::Voltage);
    EXPECT_EQ(v.Title(0), "A相电压谐波含有率(%)");
    EXPECT_EQ(v.Title(2), "C相电压谐波含有率(%)");
    EXPECT_EQ(HarmonicChartCycle::Title(HarmonicChartCycle::Kind::Current, 1), "B相电流谐波含有率(%)");
    v.Open();
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(Tick(v)) << i;
    std::vector<std::pair<int, int>> want{{806, 30}, {836, 30}, {866, 30}, {806, 30}, {836, 30}};
    EXPECT_EQ(module.ReadRequests(), want);
    EXPECT_EQ(v.Phase(), 1);
    EXPECT_DOUBLE_EQ(v.Bars(0)[0], 12.3);
    EXPECT_DOUBLE_EQ(v.Bars(0)[29], 30.0);
    EXPECT_DOUBLE_EQ(v.Bars(1)[5], 10.5);
    EXPECT_DOUBLE_EQ(v.Bars(2)[29], 22.9);
    const std::string line = v.Cells().Tsv(0, 1);
    EXPECT_EQ(line.substr(0, line.find('\t', line.find('\t') + 1)), "A相电压谐波含有率(%)\t12.30");
    EXPECT_EQ(line.substr(line.rfind('\t')), "\t30.00\n");

    // Shown again: a fresh request for phase A whatever phase it had reached.
    v.Open();
    EXPECT_EQ(v.Phase(), 0);
    EXPECT_EQ(module.ReadRequests().back(), (std::pair<int, int>{806, 30}));

    HarmonicChartCycle a(link, clock, HarmonicChartCycle::Kind::Current);
    a.Open();
    EXPECT_EQ(module.ReadRequests().back(), (std::pair<int, int>{896, 30}));
}

TEST_F(HarmonicCycleTest, AFailedPhaseWaitsThreeTicksForItsTurn) {
    HarmonicChartCycle v(link, clock, HarmonicChartCycle::Kind::Current);
    module.regs[926] = 50;
    v.Open();
    ASSERT_TRUE(Tick(v));      // A, asks for B
    module.corruptNext = 956;  // C's request, written by the B tick
    ASSERT_TRUE(Tick(v));      // B
    EXPECT_EQ(v.TakeRefilled(), 1);
    EXPECT_EQ(v.TakeRefilled(), -1);
    EXPECT_FALSE(Tick(v));  // C fails: left as it was, the phase still advances
    EXPECT_FALSE(v.Filled(2));
    EXPECT_EQ(v.TakeRefilled(), -1);
    EXPECT_EQ(v.Phase(), 0);
    EXPECT_EQ(module.ReadRequests().back(), (std::pair<int, int>{896, 30}));
    EXPECT_DOUBLE_EQ(v.Bars(1)[0], 5.0);
}

class HarmonicCycleOnVirtualModule : public ::testing::Test, protected SimLink {};

// The virtual module's harmonics differ from phase to phase.
TEST_F(HarmonicCycleOnVirtualModule, EachPhaseHasItsOwnSpectrum) {
    for (auto kind : {HarmonicChartCycle::Kind::Voltage, HarmonicChartCycle::Kind::Current}) {
        HarmonicChartCycle c(link, clock, kind);
        c.Open();
        for (int i = 0; i < 3; ++i) {
            clock.sleep(500);
            ASSERT_TRUE(i < 2 ? c.Tick() : c.LastTick());  // the next page finds the bus quiet
        }
        EXPECT_NE(c.Bars(0), c.Bars(1));
        EXPECT_NE(c.Bars(1), c.Bars(2));
        EXPECT_NE(c.Bars(0), c.Bars(2));
        for (int p = 0; p < 3; ++p) EXPECT_GT(c.Bars(p)[1], 0.0);  // the third order is there
    }
    ThdCycle thd(link, clock);
    thd.Open();
    clock.sleep(500);
    ASSERT_TRUE(thd.Tick());
    EXPECT_NE(thd.Cells().Text(2, 1), thd.Cells().Text(2, 3));
    EXPECT_NE(thd.Cells().Text(3, 1), thd.Cells().Text(3, 3));
}

// Before another page talks, the reply on its way is waited for and dropped (a silent
// module is given up one poll period after the request); a last tick asks for nothing.
TEST_F(HarmonicCycleOnVirtualModule, SettleWaitsOutTheReplyInFlightAndLastTickSendsNothing) {
    bus.WithModule(1, [](VirtualModule& m) { m.SetTurnaroundMs(55); });
    ThdCycle thd(link, clock);
    thd.Settle();
    EXPECT_EQ(clock.nowMs(), 0);  // nothing in flight

    thd.Open();
    thd.Settle();  // the 17 bytes, the last due at 8.3 + 55 + 17.7 ms, then the closing gap
    EXPECT_GE(clock.now(), Clock::Micros(8333 + 55000 + 17708));
    EXPECT_LT(clock.nowMs(), 100);
    EXPECT_FALSE(thd.Session().InFlight());
    clock.sleep(500);
    std::vector<std::uint8_t> rx(200);
    EXPECT_EQ(port.Read(rx), 0);

    BusFault silent{BusFault::Kind::NoReply};
    silent.count = 1;
    bus.InjectFault(1, silent);
    const Clock::Micros asked = clock.now();
    thd.Open();
    thd.Settle();
    EXPECT_GE(clock.now() - asked, Clock::Micros(500000));
    EXPECT_LT(clock.now() - asked, Clock::Micros(503000));

    const std::size_t sent = port.Sent().size();
    thd.Open();
    clock.sleep(500);
    EXPECT_TRUE(thd.LastTick());
    EXPECT_EQ(port.Sent().size(), sent + 1);
    EXPECT_FALSE(thd.Session().InFlight());
}

}  // namespace
