// The virtual module on its test bench, and the calibration of a virtual circuit and of the
// line end to end: NG before, OK in every row after, the errors back after a restore.
#include <gtest/gtest.h>

#include <cmath>

#include "calibration/CalibrationCycle.h"
#include "sim/SimPort.h"
#include "sim/StandardSource.h"
#include "sim/VirtualBus.h"
#include "support/RecordingSink.h"
#include "support/SimLink.h"

namespace {

class CalibrationBenchTest : public ::testing::Test, protected SimLink {
protected:
    CalibrationBenchTest() : cycle(link, clock, sink, run.calibration) {
        cycle.SetSourceFollower([this](const StandardValues& s, int pf) {
            bus.WithModule(1, [&](VirtualModule& m) {
                m.Bench().Connect(StandardSource::Of({s.ua, s.ub, s.uc}, s.current, pf));
            });
        });
        cycle.Open();
        EXPECT_TRUE(cycle.OnReadCtModules());
    }
    void Ticks(int n) {
        for (int i = 0; i < n && cycle.Running(); ++i) {
            cycle.WaitForTick();
            cycle.Tick();
        }
    }
    // A meter test of two readings; the verdicts of the data rows.
    std::vector<std::string> Verdicts() {
        EXPECT_TRUE(cycle.OnStartRun(AdjustMode::Test));
        Ticks(2);
        cycle.OnStop();
        std::vector<std::string> out;
        for (int r = 1; r <= AdjustTable::DataRows(cycle.View()); ++r)
            out.push_back(cycle.Cells().Text(r, 8));
        return out;
    }
    // Runs a calibration to its end and the two readings of the meter test that follows.
    void Calibrate(AdjustMode mode) {
        sink.messages.clear();
        ASSERT_TRUE(cycle.OnStartRun(mode));
        Ticks(12);
        cycle.OnStop();
        ASSERT_EQ(sink.messages.size(), 1u);
        ASSERT_EQ(sink.messages[0].text, "校准完成!");
    }
    std::array<std::uint16_t, 11> Block() {
        std::array<std::uint16_t, 11> b{};
        bus.WithModule(1, [&b](VirtualModule& m) { b = m.CalibrationBlock(); });
        return b;
    }
    CalibrationModel& Bench() {
        CalibrationModel* b = nullptr;
        bus.WithModule(1, [&b](VirtualModule& m) { b = &m.Bench(); });
        return *b;
    }

    RecordingSink sink;
    CalibrationCycle cycle;
};

using Rows = std::vector<std::string>;

}  // namespace

TEST_F(CalibrationBenchTest, ACircuitIsCalibratedEndToEnd) {
    ASSERT_TRUE(cycle.SelectCircuit(4));
    const Rows before = Verdicts();
    EXPECT_TRUE(Bench().OnBench());  // the run set the source
    EXPECT_EQ(before[0], "NG");      // the current is off by more than its class
    EXPECT_EQ(before[2], "\\");

    Calibrate(AdjustMode::Meter);
    const auto first = Block();
    EXPECT_EQ(first[1], 3);
    EXPECT_NE(first[3], 6378);
    EXPECT_EQ(cycle.Mode(), AdjustMode::Test);  // the meter test went on by itself
    EXPECT_EQ(cycle.Cells().Tsv(1, 6).find("NG"), std::string::npos) << cycle.Cells().Tsv();
    EXPECT_EQ(Verdicts(), (Rows{"OK", "OK", "\\", "OK", "OK"}));

    // Once more: the corrections found are close to the neutral ones and keep it in class.
    Calibrate(AdjustMode::Meter);
    const auto second = Block();
    EXPECT_NEAR(second[3], 6378, 3);
    EXPECT_TRUE(second[4] < 30 || second[4] > 65505) << second[4];
    EXPECT_EQ(Verdicts(), (Rows{"OK", "OK", "\\", "OK", "OK"}));

    // 系数恢复 puts the circuit back at its defaults, errors included.
    sink.messages.clear();
    sink.answers = {MsgResult::Yes};
    ASSERT_TRUE(cycle.OnRestoreDefaults());
    EXPECT_EQ(sink.messages.at(1).text, "默认系数完成!");
    cycle.OnStop();
    EXPECT_EQ(Verdicts(), before);
}

TEST_F(CalibrationBenchTest, ThePhaseIsCalibratedAtPointFiveLagging) {
    ASSERT_TRUE(cycle.SelectCircuit(2));
    Calibrate(AdjustMode::Meter);
    cycle.SetSteps({3, 4, AdjustFormulas::kPfHalfL});
    const Rows lagging = Verdicts();
    EXPECT_EQ(lagging[1], "NG");  // a few tenths of a degree cost about 1 % of P at 0.5L
    EXPECT_EQ(lagging[3], "NG");
    Calibrate(AdjustMode::Angle);
    EXPECT_EQ(Block()[5] != 0, true);
    EXPECT_EQ(Verdicts(), (Rows{"OK", "OK", "OK", "OK", "OK"}));
    // The meter calibration it re-sent acted once: at 1.0 the circuit is still in class.
    cycle.SetSteps({3, 4, 0});
    EXPECT_EQ(Verdicts(), (Rows{"OK", "OK", "\\", "OK", "OK"}));
}

// A source that delivers less than the tool was told gives corrections beyond their
// fields; nothing reaches the module and the circuit reads as before.
TEST_F(CalibrationBenchTest, ASourceNotAsToldWritesNoCoefficient) {
    ASSERT_TRUE(cycle.SelectCircuit(1));
    double amps = 2.4;
    cycle.SetSourceFollower([this, &amps](const StandardValues& s, int pf) {
        StandardSource source = StandardSource::Of({s.ua, s.ub, s.uc}, s.current, pf);
        source.amps = amps;
        bus.WithModule(1, [&](VirtualModule& m) { m.Bench().Connect(source); });
    });
    const std::string refused = "校准系数超出范围，标准源数值看来有误，未写入任何系数！";
    const auto before = Block();
    ASSERT_TRUE(cycle.OnStartRun(AdjustMode::Meter));
    Ticks(10);
    EXPECT_FALSE(cycle.Running());
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0].text, refused);
    EXPECT_EQ(Block(), before);

    amps = 4.5;  // an angle calibration at 4.5 A against 5 A: a phase of +3.3 degrees
    cycle.SetSteps({3, 4, AdjustFormulas::kPfHalfL});
    sink.messages.clear();
    ASSERT_TRUE(cycle.OnStartRun(AdjustMode::Angle));
    Ticks(10);
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0].text, refused);
    EXPECT_EQ(Block(), before);
}

TEST_F(CalibrationBenchTest, TheLineIsCalibratedEndToEnd) {
    cycle.OnIncomingLine();
    const Rows before = Verdicts();
    EXPECT_EQ(before, (Rows{"NG", "NG", "NG"}));
    Calibrate(AdjustMode::Meter);
    EXPECT_EQ(Verdicts(), (Rows{"OK", "OK", "OK"}));
    for (int r = 5000; r <= 5002; ++r) EXPECT_NE(bus.ReadRegister(1, r).value(), 16500);
    sink.answers = {MsgResult::Yes};
    ASSERT_TRUE(cycle.OnRestoreDefaults());
    cycle.OnStop();
    EXPECT_EQ(Verdicts(), before);
}

TEST_F(CalibrationBenchTest, TheSourceFollowsTheRunsStandardValues) {
    SourceSettings s;
    s.ua = 100.0f;
    cycle.SetSource(s);
    cycle.SetCtRatio(2);
    cycle.SetSteps({4, 1, 3});  // 120 %, 20 %, 0.866C
    ASSERT_TRUE(cycle.SelectCircuit(1));
    ASSERT_TRUE(cycle.OnStartRun(AdjustMode::Test));
    const StandardSource& src = Bench().Source();
    EXPECT_FLOAT_EQ(static_cast<float>(src.volts[0]), 120.0f);
    EXPECT_FLOAT_EQ(static_cast<float>(src.volts[1]), 264.0f);
    EXPECT_NEAR(src.amps, 2.0, 1e-6);
    EXPECT_NEAR(src.angle, std::acos(-0.5), 1e-12);
    Ticks(1);
    EXPECT_EQ(cycle.Cells().Text(1, 2), "2.0000");
    EXPECT_NEAR(std::stod(cycle.Cells().Text(1, 3)), 2.0, 0.03);
    EXPECT_LT(std::stod(cycle.Cells().Text(3, 3)), 0.0);  // capacitive
}

TEST(CalibrationModelTest, BlocksRestoreComposeAndRepeat) {
    CalibrationModel m(1);
    m.Connect(StandardSource{});
    const auto i0 = m.CurrentMa(6, 0.0);
    EXPECT_NEAR(i0, 5000.0 * (1 + m.CurrentError(6)), 1.0);
    EXPECT_GE(std::fabs(m.CurrentError(6)), 0.006);
    EXPECT_LE(std::fabs(m.CurrentError(6)), 0.009);

    const std::array<std::uint16_t, 11> gain{999, 5, 1000, 6378 * 2, 0, 0, 0, 0, 7501, 0, 0};
    ASSERT_TRUE(m.ApplyBlock(gain));
    EXPECT_NEAR(m.CurrentMa(6, 0.0), 2.0 * i0, 1.0);
    ASSERT_TRUE(m.ApplyBlock(gain));  // the same gains again: an angle calibration re-sending them
    EXPECT_NEAR(m.CurrentMa(6, 0.0), 2.0 * i0, 1.0);

    const auto p0 = m.ActiveDeciwatts(6, 0.0);
    const std::array<std::uint16_t, 11> power{999, 5,    1000, 6378, 65535 - 3277, 0, 0,
                                              0,   7501, 0,    0};  // c = -0.1
    ASSERT_TRUE(m.ApplyBlock(power));
    EXPECT_NEAR(m.ActiveDeciwatts(6, 0.0), 0.9 * p0, 2.0);
    EXPECT_NEAR(m.CurrentMa(6, 0.0), 2.0 * i0, 1.0);  // 6378 is neutral when composing

    ASSERT_TRUE(m.ApplyBlock({999, 5, 1000, 6378, 0, 0, 0, 0, 7501, 0, 0}));  // the restore block
    EXPECT_EQ(m.CurrentMa(6, 0.0), i0);
    EXPECT_EQ(m.ActiveDeciwatts(6, 0.0), p0);
    ASSERT_TRUE(m.ApplyBlock(gain));  // after a restore the gains act again
    EXPECT_NEAR(m.CurrentMa(6, 0.0), 2.0 * i0, 1.0);

    EXPECT_FALSE(m.ApplyBlock({999, 30, 1000, 6378, 0, 0, 0, 0, 7501, 0, 0}));
    EXPECT_FALSE(m.ApplyBlock({999, 5, 1000, 6378, 0, 256, 0, 0, 7501, 0, 0}));  // beyond the 8-bit phase
    EXPECT_FALSE(m.ApplyBlock({998, 5, 1000, 1, 0, 0, 0, 0, 7501, 0, 0}));
    EXPECT_NEAR(m.CurrentMa(6, 0.0), 2.0 * i0, 1.0);

    m.Disconnect();
    EXPECT_FALSE(m.OnBench());
}

TEST(CalibrationModelTest, ABlockForCircuitZeroIsRefusedOnTheWire) {
    VirtualClock clock;
    VirtualBus bus(clock);
    bus.AddModule(1);
    const std::array<std::int32_t, 11> block{999, 65535, 1000, 6378, 0, 0, 0, 0, 7501, 0, 0};
    std::vector<std::uint8_t> frame(9 + 22);
    const int n = CModbusRtu().BuildWriteRegisters(frame, 1, 9257, 11, block);
    const auto reply = bus.Process(std::span<const std::uint8_t>(frame.data(), static_cast<std::size_t>(n)));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->bytes.at(1), 0x90);
    EXPECT_EQ(reply->bytes.at(2), 0x03);
}
