// The calibration form's rules on the virtual clock: frames, waits, messages and buttons.
#include <gtest/gtest.h>

#include "calibration/CalibrationCycle.h"
#include "support/RecordingSink.h"
#include "support/ScriptedPort.h"

using namespace adjust;

namespace {

struct Write16 {
    int start;
    std::vector<int> values;
    std::int64_t atMs;
};

class CalibrationCycleTest : public ::testing::Test {
protected:
    void SetUp() override {
        module.Open();
        module.answerReads = true;
        link.protocol = &rtu;
        link.port = &module;
        module.regs[503] = 1;
        for (int n = 1; n <= 30; ++n) module.regs[375 + n] = static_cast<std::uint16_t>(6378 + n);
        for (int r = 5000; r <= 5002; ++r) module.regs[r] = 16500;
        for (int n = 1; n <= 30; ++n) SetCircuit(n, 5000, 11000, 0);
        module.regs[0] = module.regs[1] = module.regs[2] = 22000;
    }
    // Circuit n reads I mA, P and Q in 0.1 W / 0.1 var, 50.00 Hz.
    void SetCircuit(int n, int ma, std::int32_t p, std::int32_t q) {
        const int s = 12 * n - 2;
        module.regs[s] = static_cast<std::uint16_t>(ma);
        module.Set32(s + 1, static_cast<std::uint32_t>(p));
        module.Set32(s + 3, static_cast<std::uint32_t>(q));
        module.regs[s + 7] = 5000;
    }
    void Ready(CalibrationCycle& c) {
        c.Open();
        ASSERT_TRUE(c.OnReadCtModules());
        module.writes.clear();
        module.writeTimesMs.clear();
        sink.messages.clear();
    }
    // What the form's timer does: wait for the shot, then tick.
    void Ticks(CalibrationCycle& c, int n) {
        for (int i = 0; i < n && c.Running(); ++i) {
            c.WaitForTick();
            c.Tick();
        }
    }
    std::vector<Write16> Writes() const {
        std::vector<Write16> out;
        for (std::size_t k = 0; k < module.writes.size(); ++k) {
            const Frame& f = module.writes[k];
            if (f[1] != 0x10) continue;
            Write16 w{StartOf(f), {}, module.writeTimesMs[k]};
            for (int i = 0; i < CountOf(f); ++i)
                w.values.push_back(f[static_cast<std::size_t>(7 + 2 * i)] << 8 |
                                   f[static_cast<std::size_t>(8 + 2 * i)]);
            out.push_back(w);
        }
        return out;
    }
    std::vector<std::string> Texts() const {
        std::vector<std::string> out;
        for (const auto& m : sink.messages) out.push_back(m.text);
        return out;
    }
    CalibrationCycle Cycle() { return CalibrationCycle(link, clock, sink, memory); }

    CModbusRtu rtu;
    CalibrationMemory memory;  // the run's, shared by every cycle of a test
    VirtualClock clock;
    ScriptedPort module{clock};
    LinkState link;
    RecordingSink sink;
};

std::vector<int> EnabledOf(const CalibrationCycle& c) {
    std::vector<int> out;
    for (int id : CalibrationCycle::ActionButtons())
        if (c.Enabled(id)) out.push_back(id);
    return out;
}

const std::vector<int> kAllActions{IDC_METER_TEST, IDC_METER_CAL, IDC_ANGLE_CAL,  IDC_STOP,
                                   IDC_RESTORE,    IDC_REPORT,    IDC_STD_SOURCE, IDC_DEAD_ZONE};

}  // namespace

TEST_F(CalibrationCycleTest, ShowingTheFormSendsNothingAndDisablesTheActions) {
    CalibrationCycle c = Cycle();
    EXPECT_FALSE(c.Open());
    EXPECT_TRUE(EnabledOf(c).empty());
    EXPECT_EQ(c.View(), AdjustView::Circuit);
    EXPECT_EQ(c.Cells().Text(1, 1), "电流");
    EXPECT_EQ(c.Steps().voltage, 3);
    EXPECT_EQ(c.Steps().current, 4);
    EXPECT_EQ(c.Steps().powerFactor, 0);
    EXPECT_TRUE(module.writes.empty());
    EXPECT_FALSE(c.Running());
}

TEST_F(CalibrationCycleTest, ReadingTheCtModulesBuildsTheCircuitList) {
    module.regs[376 + 4] = 0;   // circuit 5 absent
    module.regs[373] = 0x0001;  // circuit 1 excluded
    module.regs[374] = 0x2000;  // circuit 30 excluded
    CalibrationCycle c = Cycle();
    c.Open();
    const auto t0 = clock.nowMs();
    ASSERT_TRUE(c.OnReadCtModules());
    EXPECT_EQ(clock.nowMs() - t0, 600);  // 100 ms after each request and after each reply
    const std::vector<std::pair<int, int>> want{{503, 1}, {373, 2}, {376, 30}};
    EXPECT_EQ(module.ReadRequests(), want);
    std::vector<int> circuits;
    for (int n = 2; n <= 29; ++n)
        if (n != 5) circuits.push_back(n);
    EXPECT_EQ(c.Circuits(), circuits);
    EXPECT_EQ(c.Circuit(), 2);
    EXPECT_EQ(EnabledOf(c), kAllActions);
    EXPECT_TRUE(c.SelectCircuit(29));
    EXPECT_FALSE(c.SelectCircuit(30));
    EXPECT_EQ(c.Circuit(), 29);
}

TEST_F(CalibrationCycleTest, CtModuleReadFailures) {
    CalibrationCycle c = Cycle();
    c.Open();
    module.mute = true;
    EXPECT_FALSE(c.OnReadCtModules());
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0].text, "无法读取仪表数据!");
    EXPECT_EQ(sink.messages[0].caption, "警告");
    EXPECT_EQ(sink.messages[0].icon, MsgIcon::Stop);
    EXPECT_EQ(module.ReadRequests().size(), 1u);  // ends at the link check
    EXPECT_TRUE(EnabledOf(c).empty());

    // Exclusions unreadable: none excluded. Presence unreadable: an empty list, and the
    // buttons that address a circuit stay off (circuit 0 would read from 65534).
    module.mute = false;
    module.regs[373] = 0xFFFF;
    module.corruptNext = 373;
    ASSERT_TRUE(c.OnReadCtModules());
    EXPECT_EQ(c.Circuits().size(), 30u);
    module.corruptNext = 376;
    ASSERT_TRUE(c.OnReadCtModules());
    EXPECT_TRUE(c.Circuits().empty());
    EXPECT_EQ(c.Circuit(), 0);
    EXPECT_EQ(EnabledOf(c), (std::vector<int>{IDC_STOP, IDC_REPORT, IDC_STD_SOURCE, IDC_DEAD_ZONE}));
    module.writes.clear();
    EXPECT_FALSE(c.OnStartRun(AdjustMode::Test));
    EXPECT_FALSE(c.OnRestoreDefaults());
    EXPECT_TRUE(module.writes.empty());
    // The incoming line needs no circuit.
    c.OnIncomingLine();
    EXPECT_TRUE(c.Enabled(IDC_METER_TEST));
    EXPECT_FALSE(c.Enabled(IDC_ANGLE_CAL));
    c.OnOutgoingLine();
    EXPECT_FALSE(c.Enabled(IDC_METER_TEST));
}

TEST_F(CalibrationCycleTest, AMeterTestReadsTheCircuitsBlockOnTheTimer) {
    CalibrationCycle c = Cycle();
    Ready(c);
    for (int n : {1, 30}) {
        ASSERT_TRUE(c.SelectCircuit(n));
        module.writes.clear();
        const auto t0 = clock.nowMs();
        ASSERT_TRUE(c.OnStartRun(AdjustMode::Test));
        EXPECT_EQ(clock.nowMs() - t0, 500);
        EXPECT_TRUE(c.Running());
        EXPECT_TRUE(EnabledOf(c) == std::vector<int>{IDC_STOP});  // the disable set
        Ticks(c, 3);
        EXPECT_EQ(clock.nowMs() - t0, 500 + 3 * 800 + 500);  // each tick ends in its 500 ms wait
        const auto reqs = module.ReadRequests();
        ASSERT_EQ(reqs.size(), 4u);
        for (const auto& r : reqs) EXPECT_EQ(r, (std::pair<int, int>{12 * n - 2, 12}));
        EXPECT_EQ(module.writeTimesMs[1] - module.writeTimesMs[0],
                  1300);  // the first tick, 800 ms after the wait
        EXPECT_EQ(module.writeTimesMs[2] - module.writeTimesMs[1], 800);
        c.OnStop();
        EXPECT_FALSE(c.Running());
    }
    EXPECT_EQ(c.Cells().Tsv(1, 6),
              "1\t电流\t5.0000\t5.00\tA\t0.5\t0.000\t\tOK\n"
              "2\t有功功率\t1100.00\t1100.00\tW\t1.0\t0.000\t\tOK\n"
              "3\t无功功率\t-0.00\t0.00\tvar\t2.0\t\\\t\t\\\n"
              "4\t功率因数\t1.000\t1.000\t\t0.5\t0.000\t\tOK\n"
              "5\t频率\t50.00\t50.00\tHz\t0.5\t0.000\t\tOK\n");
    EXPECT_EQ(EnabledOf(c), kAllActions);
    EXPECT_TRUE(sink.messages.empty());
}

TEST_F(CalibrationCycleTest, TheIncomingLineReadsTenRegistersFromZero) {
    CalibrationCycle c = Cycle();
    Ready(c);
    c.OnIncomingLine();
    EXPECT_EQ(c.Cells().Text(1, 1), "A相电压");
    module.regs[1] = 22120;
    ASSERT_TRUE(c.OnStartRun(AdjustMode::Test));
    Ticks(c, 1);
    EXPECT_EQ(module.ReadRequests().front(), (std::pair<int, int>{0, 10}));
    EXPECT_EQ(c.Cells().Tsv(1, 4),
              "1\tA相电压\t220.00\t220.00\tV\t0.5\t0.000\t\tOK\n"
              "2\tB相电压\t220.00\t221.20\tV\t0.5\t0.545\t\tNG\n"
              "3\tC相电压\t220.00\t220.00\tV\t0.5\t0.000\t\tOK\n");
    EXPECT_EQ(c.Cells().Role(2, 8), CellRole::Ng);
    EXPECT_FALSE(c.OnStartRun(AdjustMode::Angle));  // never offered in this view
}

TEST_F(CalibrationCycleTest, ATickStopsOnAWrongPowerFactorAFailedReplyOrNoSignal) {
    CalibrationCycle c = Cycle();
    Ready(c);
    ASSERT_TRUE(c.SelectCircuit(2));
    c.SetSteps({3, 4, AdjustFormulas::kPfHalfL});
    ASSERT_TRUE(c.OnStartRun(AdjustMode::Meter));
    Ticks(c, 1);
    EXPECT_EQ(Texts(), std::vector<std::string>{"功率因数不为1.0！"});
    EXPECT_EQ(sink.messages[0].caption, "警告");
    EXPECT_FALSE(c.Running());
    EXPECT_EQ(c.Mode(), AdjustMode::Meter);  // the mode stays
    EXPECT_EQ(EnabledOf(c), kAllActions);

    c.SetSteps({3, 4, 0});
    ASSERT_TRUE(c.OnStartRun(AdjustMode::Angle));
    Ticks(c, 1);
    EXPECT_EQ(sink.messages.back().text, "功率因数不为0.5L！");

    ASSERT_TRUE(c.OnStartRun(AdjustMode::Test));
    module.mute = true;
    Ticks(c, 2);  // the first reply is already there; the second never comes
    EXPECT_EQ(sink.messages.back().text, "无法读取仪表数据！");
    EXPECT_FALSE(c.Running());
    module.mute = false;

    // A dead circuit: silent in a meter test, refused in a calibration.
    SetCircuit(2, 0, 0, 0);
    sink.messages.clear();
    ASSERT_TRUE(c.OnStartRun(AdjustMode::Test));
    Ticks(c, 2);
    EXPECT_TRUE(c.Running());
    EXPECT_TRUE(sink.messages.empty());
    EXPECT_EQ(c.Cells().Text(4, 3), "0.000");
    ASSERT_TRUE(c.OnStartRun(AdjustMode::Meter));
    Ticks(c, 1);
    EXPECT_EQ(Texts(), std::vector<std::string>{"未加载信号！"});
    EXPECT_FALSE(c.Running());

    // The incoming line with no voltage stops every run, a meter test too.
    c.OnIncomingLine();
    module.regs[0] = module.regs[1] = module.regs[2] = 0;
    ASSERT_TRUE(c.OnStartRun(AdjustMode::Test));
    Ticks(c, 1);
    EXPECT_EQ(sink.messages.back().text, "未加载信号！");
    for (const auto& w : Writes()) ADD_FAILURE() << "unexpected write to " << w.start;
}

TEST_F(CalibrationCycleTest, TenReadingsOnePercentHighWriteTheCalibrationBlock) {
    CalibrationCycle c = Cycle();
    Ready(c);
    ASSERT_TRUE(c.SelectCircuit(7));
    SetCircuit(7, 5050, 11110, 60);  // I 1 % high, P 1 % high
    const auto t0 = clock.nowMs();
    ASSERT_TRUE(c.OnStartRun(AdjustMode::Meter));
    EXPECT_EQ(clock.nowMs() - t0, 100);
    Ticks(c, 9);
    EXPECT_EQ(c.SampleCount(), 9);
    EXPECT_TRUE(Writes().empty());
    const auto tenth = clock.nowMs() + 300;
    Ticks(c, 1);
    const auto w = Writes();
    ASSERT_EQ(w.size(), 1u);
    EXPECT_EQ(w[0].start, 9257);
    EXPECT_EQ(w[0].values, (std::vector<int>{999, 6, 1000, 6314, 65210, 0, 0, 0, 7501, 0, 0}));
    EXPECT_EQ(w[0].atMs - tenth, 400);
    EXPECT_EQ(Texts(), std::vector<std::string>{"校准完成!"});
    EXPECT_EQ(sink.messages[0].caption, "提示");
    EXPECT_EQ(sink.messages[0].icon, MsgIcon::Information);
    // The finish: 500 ms after the block, then a meter test starts by itself.
    EXPECT_EQ(c.Mode(), AdjustMode::Test);
    EXPECT_TRUE(c.Running());
    EXPECT_EQ(c.SampleCount(), 0);
    EXPECT_EQ(StartOf(module.writes.back()), 82);
    EXPECT_EQ(module.writeTimesMs.back() - w[0].atMs, 500);
    EXPECT_EQ(memory.Find(link, 7), (KeptGains{6314, 65210}));
}

TEST_F(CalibrationCycleTest, AngleCalibrationSendsTheGainsFoundForItsOwnCircuitOnly) {
    CalibrationCycle c = Cycle();
    Ready(c);
    c.SetSteps({3, 4, AdjustFormulas::kPfHalfL});
    // P 1 % low at 0.5L (550.05 W standard), Q exact (952.60 var).
    SetCircuit(3, 5000, 5445, 9526);
    ASSERT_TRUE(c.SelectCircuit(3));
    ASSERT_TRUE(c.OnStartRun(AdjustMode::Angle));
    Ticks(c, 10);
    auto w = Writes();
    ASSERT_EQ(w.size(), 1u);
    // Before any meter calibration: the neutral gain and correction, not zeros.
    EXPECT_EQ(w[0].values, (std::vector<int>{999, 2, 1000, 6378, 0, 16, 0, 0, 7501, 0, 0}));
    EXPECT_EQ(module.ReadRequests()[10], (std::pair<int, int>{5000, 3}));  // the link check
    EXPECT_EQ(sink.messages.back().text, "校准完成!");

    memory.Keep(link, 3, {6314, 65210});
    module.writes.clear();
    module.writeTimesMs.clear();
    ASSERT_TRUE(c.OnStartRun(AdjustMode::Angle));
    Ticks(c, 10);
    w = Writes();
    ASSERT_EQ(w.size(), 1u);
    EXPECT_EQ(w[0].values[3], 6314);
    EXPECT_EQ(w[0].values[4], 65210);

    // Kept gains belong to one module: a module at another address, or anything after a
    // new connect, gets the neutral ones.
    for (int change = 0; change < 2; ++change) {
        if (change == 0) {
            link.deviceAddress = 2;
        } else {
            link.deviceAddress = 1;
            ++link.connects;
        }
        module.writes.clear();
        module.writeTimesMs.clear();
        ASSERT_TRUE(c.OnStartRun(AdjustMode::Angle));
        Ticks(c, 10);
        w = Writes();
        ASSERT_EQ(w.size(), 1u) << change;
        EXPECT_EQ(w[0].values[3], 6378) << change;
        EXPECT_EQ(w[0].values[4], 0) << change;
    }
    EXPECT_FALSE(memory.Find(link, 3));

    // Circuit 3's gains are not circuit 4's.
    memory.Keep(link, 3, {6314, 65210});
    SetCircuit(4, 5000, 5445, 9526);
    ASSERT_TRUE(c.SelectCircuit(4));
    module.writes.clear();
    module.writeTimesMs.clear();
    ASSERT_TRUE(c.OnStartRun(AdjustMode::Angle));
    Ticks(c, 10);
    w = Writes();
    ASSERT_EQ(w.size(), 1u);
    EXPECT_EQ(w[0].values, (std::vector<int>{999, 3, 1000, 6378, 0, 16, 0, 0, 7501, 0, 0}));
}

TEST_F(CalibrationCycleTest, IncomingLineMeterCalibrationWritesTheVoltageGains) {
    CalibrationCycle c = Cycle();
    Ready(c);
    c.OnIncomingLine();
    module.regs[0] = 22100;  // 221 V against 220 V
    module.regs[5001] = 16400;
    ASSERT_TRUE(c.OnStartRun(AdjustMode::Meter));
    Ticks(c, 10);
    const auto w = Writes();
    ASSERT_EQ(w.size(), 1u);
    EXPECT_EQ(w[0].start, 5000);
    EXPECT_EQ(w[0].values, (std::vector<int>{16425, 16400, 16500}));
    EXPECT_EQ(module.ReadRequests()[10], (std::pair<int, int>{5000, 3}));
    EXPECT_EQ(sink.messages.back().text, "校准完成!");
    EXPECT_TRUE(c.Running());
    EXPECT_EQ(module.ReadRequests().back(), (std::pair<int, int>{0, 10}));

    // The gains cannot be read: nothing is written.
    module.writes.clear();
    module.writeTimesMs.clear();
    ASSERT_TRUE(c.OnStartRun(AdjustMode::Meter));
    Ticks(c, 9);
    module.corruptNext = 5000;
    Ticks(c, 1);
    EXPECT_TRUE(Writes().empty());
    EXPECT_EQ(sink.messages.back().text, "无法读取仪表数据!");
    EXPECT_FALSE(c.Running());
}

TEST_F(CalibrationCycleTest, ACalibrationThatWouldDivideByZeroIsRefused) {
    CalibrationCycle c = Cycle();
    Ready(c);
    ASSERT_TRUE(c.SelectCircuit(2));
    c.SetCtRatio(0);
    ASSERT_FALSE(c.OnStartRun(AdjustMode::Meter));
    EXPECT_EQ(Texts(), std::vector<std::string>{"CT变比为0，无法校准！"});
    EXPECT_TRUE(module.writes.empty());  // not even the first request
    EXPECT_EQ(EnabledOf(c), kAllActions);
    // A meter test just shows what it reads.
    EXPECT_TRUE(c.OnStartRun(AdjustMode::Test));
    c.OnStop();

    c.SetCtRatio(1);
    SourceSettings s;
    s.ia = 0;
    c.SetSource(s);
    sink.messages.clear();
    EXPECT_FALSE(c.OnStartRun(AdjustMode::Meter));
    EXPECT_EQ(Texts(), std::vector<std::string>{"标准源数值为0，无法校准！"});

    // Current 0 with power present: the average current is 0.
    c.SetSource({});
    SetCircuit(2, 0, 11000, 0);
    sink.messages.clear();
    module.writes.clear();
    ASSERT_TRUE(c.OnStartRun(AdjustMode::Meter));
    Ticks(c, 10);
    EXPECT_EQ(Texts(), std::vector<std::string>{"仪表读数平均值为0，无法校准！"});
    EXPECT_TRUE(Writes().empty());
    EXPECT_FALSE(c.Running());

    // A reading a tenth of the standard needs a gain beyond 16 bits.
    SetCircuit(2, 90, 11000, 0);
    sink.messages.clear();
    ASSERT_TRUE(c.OnStartRun(AdjustMode::Meter));
    Ticks(c, 10);
    EXPECT_EQ(Texts(), std::vector<std::string>{"校准系数超出范围，标准源数值看来有误，未写入任何系数！"});
    EXPECT_TRUE(Writes().empty());

    c.OnIncomingLine();
    s = {};
    s.ub = 0;
    c.SetSource(s);
    sink.messages.clear();
    EXPECT_FALSE(c.OnStartRun(AdjustMode::Meter));
    EXPECT_EQ(Texts(), std::vector<std::string>{"标准源数值为0，无法校准！"});
}

TEST_F(CalibrationCycleTest, CoefficientRestore) {
    CalibrationCycle c = Cycle();
    Ready(c);
    ASSERT_TRUE(c.SelectCircuit(9));
    memory.Keep(link, 9, {6314, 65210});
    // Asked first, naming the circuit whose calibration goes; "No" sends nothing.
    sink.answers = {MsgResult::No};
    EXPECT_FALSE(c.OnRestoreDefaults());
    const std::string question =
        "系数恢复将把回路9的电流增益、功率、相位和无功校正恢复为默认值，该回路现有的校准将丢失。是否继续？";
    EXPECT_EQ(Texts(), std::vector<std::string>{question});
    EXPECT_EQ(sink.messages[0].buttons, MsgButtons::YesNo);
    EXPECT_TRUE(module.writes.empty());
    EXPECT_TRUE(c.Enabled(IDC_RESTORE));
    sink.messages.clear();

    const auto t0 = clock.nowMs();
    sink.answers = {MsgResult::Yes};
    ASSERT_TRUE(c.OnRestoreDefaults());
    auto w = Writes();
    ASSERT_EQ(w.size(), 1u);
    EXPECT_EQ(w[0].values, (std::vector<int>{999, 8, 1000, 6378, 0, 0, 0, 0, 7501, 0, 0}));
    EXPECT_EQ(module.writeTimesMs[1] - t0, 3000);  // then the meter test's first request
    EXPECT_EQ(Texts(), (std::vector<std::string>{question, "默认系数完成!"}));
    EXPECT_EQ(sink.messages[1].icon, MsgIcon::Question);
    EXPECT_EQ(c.Mode(), AdjustMode::Test);
    EXPECT_TRUE(c.Running());
    EXPECT_FALSE(memory.Find(link, 9));  // an angle calibration now sends the defaults

    c.OnIncomingLine();
    module.writes.clear();
    module.writeTimesMs.clear();
    sink.messages.clear();
    sink.answers = {MsgResult::Yes};
    ASSERT_TRUE(c.OnRestoreDefaults());
    EXPECT_EQ(sink.messages[0].text,
              "系数恢复将把A、B、C三相电压增益恢复为默认值16500，现有的电压校准将丢失。是否继续？");
    w = Writes();
    ASSERT_EQ(w.size(), 1u);
    EXPECT_EQ(w[0].start, 5000);
    EXPECT_EQ(w[0].values, (std::vector<int>{16500, 16500, 16500}));
    EXPECT_EQ(module.writeTimesMs[1] - module.writeTimesMs[0], 200);

    // Nothing could be sent: no success reported.
    c.OnStop();
    module.Close();
    sink.messages.clear();
    sink.answers = {MsgResult::Yes};
    EXPECT_FALSE(c.OnRestoreDefaults());
    EXPECT_EQ(sink.messages.back().text, "无法读取仪表数据!");
}

TEST_F(CalibrationCycleTest, ChangingTheViewOrReadingTheListStopsARun) {
    CalibrationCycle c = Cycle();
    Ready(c);
    ASSERT_TRUE(c.OnStartRun(AdjustMode::Meter));
    Ticks(c, 5);
    c.OnIncomingLine();
    EXPECT_FALSE(c.Running());
    EXPECT_EQ(EnabledOf(c), (std::vector<int>{IDC_METER_TEST, IDC_METER_CAL, IDC_STOP, IDC_RESTORE,
                                              IDC_REPORT, IDC_STD_SOURCE, IDC_DEAD_ZONE}));
    ASSERT_TRUE(c.OnStartRun(AdjustMode::Test));
    c.OnOutgoingLine();
    EXPECT_FALSE(c.Running());
    EXPECT_FALSE(c.Enabled(IDC_ANGLE_CAL));  // as 进线 left it
    ASSERT_TRUE(c.OnStartRun(AdjustMode::Meter));
    Ticks(c, 3);
    c.OnReadCtModules();
    EXPECT_FALSE(c.Running());
    Ticks(c, 10);
    EXPECT_TRUE(Writes().empty());
}

TEST_F(CalibrationCycleTest, TheSourceFollowerHearsEachRunStart) {
    CalibrationCycle c = Cycle();
    Ready(c);
    std::vector<std::pair<float, int>> heard;
    c.SetSourceFollower([&heard](const StandardValues& s, int pf) { heard.emplace_back(s.current, pf); });
    c.SetCtRatio(10);
    c.SetSteps({3, 1, 0});
    ASSERT_TRUE(c.OnStartRun(AdjustMode::Test));
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_FLOAT_EQ(heard[0].first, 10.0f);
    c.SetCtRatio(0);
    EXPECT_FALSE(c.OnStartRun(AdjustMode::Meter));
    EXPECT_EQ(heard.size(), 1u);  // a refused run sets nothing
}

// While a calibration collects its readings, the circuit, the CT ratio and the steps stay
// as they were at its start, and the block goes to the circuit that was read; in the meter
// test that follows they are free again, and another circuit restarts the test there.
TEST_F(CalibrationCycleTest, ACalibrationKeepsTheCircuitAndStandardItStartedWith) {
    CalibrationCycle c = Cycle();
    Ready(c);
    ASSERT_TRUE(c.SelectCircuit(1));
    ASSERT_TRUE(c.OnStartRun(AdjustMode::Meter));
    for (int id : CalibrationCycle::RunSettingControls()) EXPECT_FALSE(c.Enabled(id)) << id;
    Ticks(c, 6);
    EXPECT_FALSE(c.SelectCircuit(2));
    EXPECT_EQ(c.Circuit(), 1);
    c.SetSteps({3, 2, 0});  // 50 % current: a standard the readings were not taken at
    c.SetCtRatio(5);
    Ticks(c, 4);
    const auto w = Writes();
    ASSERT_EQ(w.size(), 1u);
    // Readings of 5 A and 1100 W against the 5 A and 1100 W the run started with.
    EXPECT_EQ(w[0].values, (std::vector<int>{999, 0, 1000, 6378, 0, 0, 0, 0, 7501, 0, 0}));
    for (const auto& [start, count] : module.ReadRequests()) EXPECT_EQ(start, 10);
    EXPECT_EQ(sink.messages.back().text, "校准完成!");

    ASSERT_TRUE(c.Running());  // the meter test
    for (int id : CalibrationCycle::RunSettingControls()) EXPECT_TRUE(c.Enabled(id)) << id;
    const auto restarts = c.TimerStarts();
    ASSERT_TRUE(c.SelectCircuit(2));
    EXPECT_EQ(c.TimerStarts(), restarts + 1);
    EXPECT_EQ(module.ReadRequests().back(), (std::pair<int, int>{22, 12}));
}
