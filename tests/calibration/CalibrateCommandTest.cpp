// kvt40ctl calibrate and dead-zone against the virtual module on its bench, on the virtual
// clock: output lines, exit codes, refusals, readings and the report file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <sstream>

#include "cli/Cli.h"
#include "link/TextEncoding.h"
#include "sim/SimPort.h"
#include "sim/StandardSource.h"
#include "sim/VirtualBus.h"
#include "support/CommandFixture.h"

namespace {

// Standard input of a technician who, when the run waits, does something at the bench
// and then presses Enter.
class SwitchOnRead final : public std::streambuf {
public:
    explicit SwitchOnRead(std::function<void()> act) : act_(std::move(act)) {}

protected:
    int_type underflow() override {
        if (gptr() != nullptr && gptr() < egptr()) return traits_type::to_int_type(*gptr());
        if (done_) return traits_type::eof();
        done_ = true;
        act_();
        setg(&enter_, &enter_, &enter_ + 1);
        return traits_type::to_int_type(enter_);
    }

private:
    std::function<void()> act_;
    bool done_ = false;
    char enter_ = '\n';
};

class CalibrateCommandTest : public CommandFixture {
protected:
    CalibrateCommandTest() {
        bus.WithModule(1, [](VirtualModule& m) { m.Bench().Connect(StandardSource{}); });
        env.wall = &wall;
        leading = {"--sim"};
    }
    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        std::istringstream in(out.str());
        for (std::string l; std::getline(in, l);) lines.push_back(l);
        return lines;
    }
    std::string Verdict(int row) const {
        const std::string l = Lines().at(static_cast<std::size_t>(row));
        return l.substr(l.rfind('\t') + 1);
    }
    std::size_t WritesOf16() const {
        const auto sent = port.Sent();
        return static_cast<std::size_t>(std::count_if(
            sent.begin(), sent.end(), [](const auto& f) { return f.size() > 1 && f[1] == 0x10; }));
    }
    std::size_t ReadsFrom(int start) const {
        const auto sent = port.Sent();
        return static_cast<std::size_t>(std::count_if(sent.begin(), sent.end(), [start](const auto& f) {
            return f.size() == 8 && f[1] == 0x03 && (f[2] << 8 | f[3]) == start;
        }));
    }

    FixedWallClock wall{LocalTime{2024, 3, 5, 8, 7, 9}};
};

}  // namespace

TEST_F(CalibrateCommandTest, UsageErrors) {
    EXPECT_EQ(Run({"calibrate", "--view", "line", "--mode", "angle"}), kExitUsage);
    EXPECT_EQ(err.str(), "kvt40ctl: --mode angle needs --view circuit\n");
    const std::vector<std::vector<std::string>> bad = {
        {"calibrate", "--mode", "test"},
        {"calibrate", "--view", "circuit"},
        {"calibrate", "--view", "lines", "--mode", "test"},
        {"calibrate", "--view", "circuit", "--mode", "test", "--circuit", "31"},
        {"calibrate", "--view", "line", "--mode", "test", "--circuit", "3"},
        {"calibrate", "--view", "circuit", "--mode", "test", "--pf", "0.5"},
        {"calibrate", "--view", "circuit", "--mode", "test", "--voltage-step", "30%"},
        {"calibrate", "--view", "circuit", "--mode", "test", "--readings", "0"},
        {"calibrate", "--view", "circuit", "--mode", "test", "--ua", "abc"},
        {"calibrate", "--view", "circuit", "--mode", "test", "--ct", "-1"},
        {"calibrate", "--view", "circuit", "--mode", "test", "--english"},
        {"calibrate", "--view", "circuit", "--mode", "test", "--report", "r.txt", "--serial", "12a"},
        {"calibrate", "--view", "circuit", "--mode", "test", "--report", "r.txt", "--tester", "10"},
        {"calibrate", "--view", "circuit", "--mode", "test", "--report", "r.txt", "--rated-current", "2A"},
        {"calibrate", "--view", "circuit", "--mode", "meter", "--ua", "nan"},
        {"calibrate", "--view", "circuit", "--mode", "meter", "--ia", "-nan"},
        {"calibrate", "--view", "circuit", "--mode", "meter", "--uc", "inf"},
        {"calibrate", "--view", "circuit", "--mode", "test", "--report", "r.txt", "--model", "KVT40\nS/N:1"},
        {"calibrate", "--view", "circuit", "--mode", "test", "--report", "r.txt", "--model",
         "KVT40 \xF0\x9F\x98\x80"},
        {"calibrate", "--view", "circuit", "--mode", "meter", "--report", "/dev/full"},
        {"calibrate", "--view", "circuit", "--mode", "test", "--report", ""},
        {"dead-zone", "--set", "1", "2", "3"},
        {"dead-zone", "--set", "1", "2", "3", "4", "5", "6", "7", "8", "9", "70000"},
    };
    for (const auto& args : bad) {
        EXPECT_EQ(Run(args), kExitUsage) << args.back();
        const std::string e = err.str();
        EXPECT_EQ(e.rfind("kvt40ctl: ", 0), 0u) << e;
        EXPECT_EQ(std::count(e.begin(), e.end(), '\n'), 1) << e;
        EXPECT_TRUE(out.str().empty());
    }
    EXPECT_EQ(opens, 0);
    EXPECT_TRUE(port.Sent().empty());
    EXPECT_FALSE(std::filesystem::exists("r.txt"));
}

TEST_F(CalibrateCommandTest, AMeterTestPrintsTheTableAndExitsThreeOnNg) {
    EXPECT_EQ(Run({"calibrate", "--view", "circuit", "--circuit", "4", "--mode", "test"}), 3) << err.str();
    const auto lines = Lines();
    ASSERT_EQ(lines.size(), 10u);
    for (const auto& l : lines) EXPECT_EQ(std::count(l.begin(), l.end(), '\t'), 8) << l;
    EXPECT_EQ(lines[0], "编号\t项目\t标准源\t仪表\t单位\t允许误差(%)\t相对误差(%)\t引用误差(%)\t结果");
    EXPECT_EQ(lines[1].substr(0, 16), "1\t电流\t5.0000\t");
    EXPECT_EQ(Verdict(1), "NG");
    EXPECT_EQ(Verdict(3), "\\");
    EXPECT_EQ(lines[6], "6\t\t\t\t\t\t\t\t");
    EXPECT_TRUE(err.str().empty());
    EXPECT_EQ(WritesOf16(), 0u);           // a meter test writes nothing
    EXPECT_EQ(ReadsFrom(12 * 4 - 2), 1u);  // one reading, and no request after the last
}

TEST_F(CalibrateCommandTest, AMeterCalibrationEndsOkInEveryRowAndReadingsCount) {
    ASSERT_EQ(Run({"calibrate", "--view", "circuit", "--circuit", "4", "--mode", "meter", "--readings", "3"}),
              kExitOk)
        << out.str() << err.str();
    EXPECT_EQ(Verdict(1), "OK");
    EXPECT_EQ(Verdict(2), "OK");
    EXPECT_EQ(Verdict(4), "OK");
    EXPECT_EQ(Verdict(5), "OK");
    EXPECT_EQ(WritesOf16(), 1u);
    // Ten readings, then the meter test's request and three readings; no request follows the last.
    EXPECT_EQ(ReadsFrom(46), 10u + 1u + 2u);
    EXPECT_TRUE(err.str().empty());
}

TEST_F(CalibrateCommandTest, RunsTheFormWouldRefuseWriteNothing) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> refused = {
        {{"calibrate", "--view", "circuit", "--mode", "meter", "--ct", "0"}, "CT变比为0，无法校准！"},
        {{"calibrate", "--view", "circuit", "--mode", "meter", "--ia", "0"}, "标准源数值为0，无法校准！"},
        {{"calibrate", "--view", "line", "--mode", "meter", "--uc", "0"}, "标准源数值为0，无法校准！"},
        {{"calibrate", "--view", "circuit", "--mode", "meter", "--pf", "0.5L"}, "功率因数不为1.0！"},
        {{"calibrate", "--view", "circuit", "--mode", "angle", "--default-gains"}, "功率因数不为0.5L！"},
    };
    for (const auto& [args, message] : refused) {
        EXPECT_EQ(Run(args), kExitFailed) << message;
        EXPECT_EQ(err.str(), message + "\n");
        EXPECT_TRUE(out.str().empty());
        EXPECT_EQ(WritesOf16(), 0u);
    }
    bus.WithModule(1, [](VirtualModule& m) {
        StandardSource off;
        off.amps = 0;
        m.Bench().Connect(off);
    });
    EXPECT_EQ(Run({"calibrate", "--view", "circuit", "--mode", "meter"}), kExitFailed);
    EXPECT_EQ(err.str(), "未加载信号！\n");
}

// An angle calibration re-sends the current gain and power correction: a run starts with
// none kept, so they come from the meter calibration of the same run, from the options, or
// are the defaults asked for; never silently the defaults over an earlier calibration.
TEST_F(CalibrateCommandTest, AnAngleCalibrationKeepsTheGainsItIsGiven) {
    const auto block = [this] {
        std::array<std::uint16_t, 11> b{};
        bus.WithModule(1, [&b](VirtualModule& m) { b = m.CalibrationBlock(); });
        return b;
    };
    EXPECT_EQ(Run({"calibrate", "--view", "circuit", "--circuit", "2", "--mode", "angle"}), kExitUsage);
    EXPECT_EQ(err.str(),
              "kvt40ctl: --mode angle would write the default gains 6378 and 0 over the circuit's meter "
              "calibration: "
              "give --current-gain and --power-correction, or --default-gains, or use --mode meter+angle\n");
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"calibrate", "--view", "circuit", "--mode", "meter", "--default-gains"},
          std::vector<std::string>{"calibrate", "--view", "circuit", "--mode", "angle", "--current-gain",
                                   "6300"},
          std::vector<std::string>{"calibrate", "--view", "circuit", "--mode", "angle", "--default-gains",
                                   "--current-gain", "6300", "--power-correction", "0"},
          std::vector<std::string>{"calibrate", "--view", "circuit", "--mode", "meter+angle", "--pf", "0.5L"},
          std::vector<std::string>{"calibrate", "--view", "line", "--mode", "meter+angle"}})
        EXPECT_EQ(Run(args), kExitUsage) << args.back();
    EXPECT_TRUE(port.Sent().empty());

    // Meter then angle in one run: the angle block carries the meter calibration's gains.
    // This bench's source does not follow the run: the technician switches it to 0.5L and
    // presses Enter when asked.
    SwitchOnRead technician([this] {
        bus.WithModule(1, [](VirtualModule& m) {
            StandardSource lagging;
            lagging.SetPowerFactorStep(2);
            m.Bench().Connect(lagging);
        });
    });
    std::streambuf* saved = std::cin.rdbuf(&technician);
    const int code = Run({"calibrate", "--view", "circuit", "--circuit", "2", "--mode", "meter+angle"});
    std::cin.rdbuf(saved);
    ASSERT_EQ(code, kExitOk) << out.str() << err.str();
    EXPECT_EQ(err.str(), "kvt40ctl: set the standard source to power factor 0.5L, then press Enter\n");
    EXPECT_EQ(WritesOf16(), 2u);
    const auto both = block();
    EXPECT_NE(both[3], 6378);
    EXPECT_NE(both[5], 0);
    EXPECT_EQ(Verdict(2), "OK");  // at 0.5L, P and Q in class
    EXPECT_EQ(Verdict(3), "OK");

    ASSERT_NE(Run({"calibrate", "--view", "circuit", "--circuit", "2", "--mode", "angle", "--current-gain",
                   "6300", "--power-correction", "65210", "--pf", "0.5L"}),
              kExitFailed)
        << err.str();
    EXPECT_EQ(block()[3], 6300);
    EXPECT_EQ(block()[4], 65210);
    ASSERT_NE(Run({"calibrate", "--view", "circuit", "--circuit", "2", "--mode", "angle", "--default-gains",
                   "--pf", "0.5L"}),
              kExitFailed)
        << err.str();
    EXPECT_EQ(block()[3], 6378);
    EXPECT_EQ(block()[4], 0);
}

TEST_F(CalibrateCommandTest, CommunicationFailures) {
    bus.InjectFault(1, {BusFault::Kind::NoReply});
    EXPECT_EQ(Run({"calibrate", "--view", "circuit", "--mode", "test"}), kExitFailed);
    EXPECT_EQ(err.str(),
              "无法读取仪表数据!\nkvt40ctl: No reply from module 1\n");  // the CT module read, outside a tick
    EXPECT_EQ(Run({"calibrate", "--view", "line", "--mode", "test"}), kExitFailed);
    EXPECT_EQ(err.str(),
              "无法读取仪表数据！\nkvt40ctl: No reply from module 1\n");  // in a tick: the full-width mark
    EXPECT_TRUE(out.str().empty());
    bus.ClearFault(1);
    EXPECT_EQ(Run({"calibrate", "--view", "circuit", "--circuit", "30", "--mode", "test"}), 3);
    bus.WithModule(1, [](VirtualModule& m) { m.SetCircuitFault(30, true); });
    EXPECT_EQ(Run({"calibrate", "--view", "circuit", "--circuit", "30", "--mode", "test"}), kExitFailed);
    EXPECT_EQ(err.str(), "kvt40ctl: circuit 30 is not offered by the module\n");
}

TEST_F(CalibrateCommandTest, TheReportIsAppendedWithTheWallClocksTime) {
    const auto path =
        std::filesystem::temp_directory_path() / ("kvt40-cal-" + std::to_string(::getpid()) + ".txt");
    std::filesystem::remove(path);
    ASSERT_EQ(Run({"calibrate", "--view", "circuit", "--mode", "test", "--voltage-step", "80%", "--report",
                   path.string(), "--serial", "42", "--tester", "3", "--rated-current", "1A"}),
              3);
    ASSERT_EQ(
        Run({"calibrate", "--view", "circuit", "--mode", "test", "--report", path.string(), "--english"}), 3);
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    const std::string file = s.str();
    std::filesystem::remove(path);
    EXPECT_NE(file.find(*Utf8ToGbk("    型号:     KVT40        S/N:42\r\n")), std::string::npos);
    EXPECT_NE(file.find(*Utf8ToGbk("    额定电压: 220V       额定电流:1A\r\n")), std::string::npos);
    EXPECT_NE(file.find(*Utf8ToGbk("    测试电压: 80%    测试电流: 100%\r\n")), std::string::npos);
    EXPECT_NE(file.find(*Utf8ToGbk("    日  期：  2024年03月05日08时07分09秒\r\n")),
              std::string::npos);  // the next report follows
    EXPECT_NE(file.find("    1             I             5.0000"), std::string::npos);
    EXPECT_EQ(file.substr(file.size() - 31), *Utf8ToGbk("    Date：  2024-03-05 08:07:09"));

    // Found before the module is touched.
    EXPECT_EQ(Run({"calibrate", "--view", "circuit", "--mode", "test", "--report", "/nonexistent-dir/r.txt"}),
              kExitUsage);
    EXPECT_TRUE(out.str().empty());
    EXPECT_EQ(err.str().rfind("kvt40ctl: 无法打开报告文件：/nonexistent-dir/r.txt (", 0), 0u) << err.str();
}

// Reads the time for the report, after the run, and first does what a test asks of it.
class HookedWallClock final : public WallClock {
public:
    std::function<void()> hook;
    LocalTime Now() const override {
        if (hook) hook();
        return LocalTime{2024, 3, 5, 8, 7, 9};
    }
};

// The module was calibrated and judged; a report that still cannot be written must not hide
// that, nor read as a module failure.
TEST_F(CalibrateCommandTest, AReportThatFailsAfterTheRunHasItsOwnExitCodeAndTheVerdict) {
    const auto dir =
        std::filesystem::temp_directory_path() / ("kvt40-cal-late-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const auto report = dir / "r.txt";
    HookedWallClock late;
    late.hook = [&] { std::filesystem::create_directory(report); };  // the file's place is taken meanwhile
    env.wall = &late;
    for (const auto& [mode, verdict] :
         {std::pair{"test", "NG (a row is NG)"}, std::pair{"meter", "OK (no row is NG)"}}) {
        std::filesystem::remove_all(report);
        EXPECT_EQ(Run({"calibrate", "--view", "circuit", "--circuit", "4", "--mode", mode, "--readings", "3",
                       "--report", report.string()}),
                  kExitReportNotWritten);
        EXPECT_EQ(Lines().size(), 10u);
        EXPECT_EQ(err.str(), "无法打开报告文件：" + report.string() +
                                 " (Is a directory)\nkvt40ctl: verdict " + verdict +
                                 "; the report was not written\n");
    }
    std::filesystem::remove_all(dir);
}

TEST_F(CalibrateCommandTest, DeadZoneReadsAndSets) {
    ASSERT_EQ(Run({"dead-zone"}), kExitOk) << err.str();
    auto lines = Lines();
    ASSERT_EQ(lines.size(), 11u);
    EXPECT_EQ(lines[0], "项目\t当前值\t设定值");
    EXPECT_EQ(lines[1], "A相电压(0.01V)\t100\t100");
    EXPECT_EQ(lines[10], "C相电流电能死区(mA)\t50\t50");

    ASSERT_EQ(Run({"dead-zone", "--set", "101", "102", "103", "11", "12", "13", "31", "51", "52", "53"}),
              kExitOk);
    lines = Lines();
    EXPECT_EQ(lines[1], "A相电压(0.01V)\t101\t101");
    EXPECT_EQ(lines[8], "A相电流电能死区(mA)\t51\t51");
    const auto sent = port.Sent();
    const auto& write = sent.at(sent.size() - 2);
    ASSERT_EQ(write.size(), 31u);
    EXPECT_EQ(write[8], 32);
    EXPECT_EQ(write[10], 51);  // rows 8, 9, 10 first
    EXPECT_EQ(write[16], 101);

    bus.InjectFault(1, {BusFault::Kind::BadCrc});
    EXPECT_EQ(Run({"dead-zone"}), kExitFailed);
    EXPECT_EQ(err.str(), "无法读取仪表数据!\nkvt40ctl: Bad CRC in the reply of module 1\n");
}

// The dialog shows the read-back and judges nothing; the command must not call it done.
TEST_F(CalibrateCommandTest, DeadZoneSetThatTheModuleRefusesOrDropsExitsOne) {
    const std::vector<std::string> set{"dead-zone", "--set", "101", "102", "103", "11",
                                       "12",        "13",    "31",  "51",  "52",  "53"};
    BusFault refused{BusFault::Kind::Refused};
    refused.function = 0x10;
    bus.InjectFault(1, refused);
    EXPECT_EQ(Run(set), kExitFailed);
    EXPECT_EQ(
        err.str(),
        "kvt40ctl: the write to register 1023 failed: Exception 4 from module 1: server device failure\n");
    EXPECT_EQ(Lines().at(1), "A相电压(0.01V)\t100\t101");  // the grid read back

    BusFault ignored{BusFault::Kind::Ignored};
    ignored.function = 0x10;
    bus.InjectFault(1, ignored);
    EXPECT_EQ(Run(set), kExitFailed);
    EXPECT_EQ(err.str(), "kvt40ctl: register 1023 reads 50 after 51 was written\n");

    // Kept values pass: the read-back is matched row by row, without the leading 32.
    bus.ClearFault(1);
    EXPECT_EQ(Run(set), kExitOk) << err.str();
    EXPECT_TRUE(err.str().empty());
}
