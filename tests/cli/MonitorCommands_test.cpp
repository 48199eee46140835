// The live-view commands against the virtual module on the virtual clock, as
// `kvt40ctl --sim` runs them: the forms' texts, tab-separated, and the failures.
#include <gtest/gtest.h>

#include <sstream>

#include "cli/Cli.h"
#include "link/LinkState.h"
#include "sim/SimPort.h"
#include "sim/VirtualBus.h"
#include "support/CommandFixture.h"
#include "support/Frames.h"

namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
}

std::vector<std::string> Split(const std::string& line, char sep) {
    std::vector<std::string> cells;
    std::size_t from = 0;
    for (std::size_t at; (at = line.find(sep, from)) != std::string::npos; from = at + 1)
        cells.push_back(line.substr(from, at - from));
    cells.push_back(line.substr(from));
    return cells;
}

// The line in front of the module: notes each request written while a reply was still on
// its way to the master, and what the master read.
class WireWatch final : public CCommPort {
public:
    WireWatch(SimPort& port, Clock& clock) : port_(port), clock_(clock) {}
    void Close() override { port_.Close(); }
    bool IsOpen() const override { return port_.IsOpen(); }
    int Write(std::span<const std::uint8_t> data) override {
        for (std::size_t i = 0; port_.ByteDueAt(i) != Clock::Micros{0}; ++i)
            if (port_.ByteDueAt(i) > clock_.now()) {
                overlapped.emplace_back(data.begin(), data.end());
                break;
            }
        wire += 'W';
        return port_.Write(data);
    }
    int Read(std::span<std::uint8_t> buf) override {
        const int n = port_.Read(buf);
        if (n > 0) wire += 'R';
        return n;
    }
    std::vector<Frame> overlapped;
    std::string wire;  // W a request written, R a reply read

private:
    SimPort& port_;
    Clock& clock_;
};

class MonitorCommands : public CommandFixture {
protected:
    MonitorCommands() {
        env.wall = &wall;
        env.port = &watch;
        leading = {"--sim"};
    }

    WireWatch watch{port, clock};
    FixedWallClock wall{LocalTime{2026, 12, 9, 14, 2, 31, 60}};
};

TEST_F(MonitorCommands, TotalsPrintsElevenLinesOfFourCells) {
    ASSERT_EQ(Run({"totals"}), kExitOk) << err.str();
    const auto lines = Lines(out.str());
    ASSERT_EQ(lines.size(), 11u);
    EXPECT_EQ(lines[0], "\tTotal Active power (W)\tTotal Reactive power (var)\tTotal kWh(kWh)");
    for (const auto& l : lines) EXPECT_EQ(Split(l, '\t').size(), 4u) << l;
    EXPECT_EQ(lines[10].substr(0, 11), "Circuit 10\t");
    EXPECT_GT(std::stod(Split(lines[1], '\t')[1]), 100.0);
    EXPECT_EQ(clock.nowMs(), 600);
    ASSERT_EQ(port.Sent().size(), 1u);
    EXPECT_EQ(port.Sent()[0], WithCrc({0x01, 0x03, 0x07, 0xD0, 0x00, 0x3C}));
}

TEST_F(MonitorCommands, DemandPrintsTwelveLinesWithTheUnitsGlued) {
    ASSERT_EQ(Run({"demand"}), kExitOk) << err.str();
    const auto lines = Lines(out.str());
    ASSERT_EQ(lines.size(), 12u);
    for (const auto& l : lines) EXPECT_EQ(Split(l, '\t').size(), 5u) << l;
    EXPECT_EQ(lines[0], "\t\t实时需量\t\t");
    const auto ia = Split(lines[2], '\t');
    EXPECT_EQ(ia[0], "Ia:");
    EXPECT_EQ(ia[1].back(), 'A');
    EXPECT_EQ(ia[1].size() - ia[1].find('.'), 5u);  // "%0.3f" then "A"
    EXPECT_EQ(ia[3], "Pa:");
    EXPECT_EQ(ia[4].back(), 'W');
    EXPECT_EQ(Split(lines[11], '\t')[3], "Ptot:");
    EXPECT_EQ(clock.nowMs(), 250 + 400 + 500);
}

TEST_F(MonitorCommands, DemandClearSendsTheCommandAndSaysSo) {
    ASSERT_EQ(Run({"demand", "--clear"}), kExitOk) << err.str();
    EXPECT_EQ(out.str(), "需量清除成功！\n");
    EXPECT_EQ(port.Sent().back(), WithCrc({0x01, 0x10, 0x00, 0xFB, 0x00, 0x01, 0x02, 0x03, 0x78}));
}

// The form reports success whatever happened; the command believes only the module's echo.
TEST_F(MonitorCommands, DemandClearIsJudgedByTheModulesAnswer) {
    BusFault refused{BusFault::Kind::Refused};
    refused.function = 0x10;
    bus.InjectFault(1, refused);
    EXPECT_EQ(Run({"demand", "--clear"}), kExitFailed);
    EXPECT_EQ(err.str(), "kvt40ctl: demand not cleared: Exception 4 from module 1: server device failure\n");
    EXPECT_TRUE(out.str().empty());

    BusFault silent{BusFault::Kind::NoReply};
    silent.function = 0x10;
    bus.InjectFault(1, silent);
    EXPECT_EQ(Run({"demand", "--clear"}), kExitFailed);
    EXPECT_EQ(err.str(), "kvt40ctl: demand not cleared: No reply from module 1\n");
    EXPECT_TRUE(out.str().empty());
}

TEST_F(MonitorCommands, DemandFailsWithTheFormsWarning) {
    bus.InjectFault(1, {BusFault::Kind::NoReply});
    EXPECT_EQ(Run({"demand"}), kExitFailed);
    EXPECT_EQ(err.str(), "无法读取仪表数据!\nkvt40ctl: No reply from module 1\n");
    EXPECT_TRUE(out.str().empty());
    EXPECT_EQ(Run({"demand", "--clear"}), kExitFailed);  // the opening shows nobody answers
    EXPECT_TRUE(out.str().empty());
}

TEST_F(MonitorCommands, HarmonicsPrintsTheThdTableThenSixCharts) {
    ASSERT_EQ(Run({"harmonics"}), kExitOk) << err.str();
    const auto lines = Lines(out.str());
    ASSERT_EQ(lines.size(), 10u);
    EXPECT_EQ(lines[0], "\t\tTHD\t");
    EXPECT_EQ(lines[1], "\tA相\tB相\tC相");
    EXPECT_EQ(lines[2].substr(0, 7), "电压\t");
    EXPECT_EQ(lines[2].back(), '%');
    const char* titles[] = {"A相电压谐波含有率(%)", "B相电压谐波含有率(%)", "C相电压谐波含有率(%)",
                            "A相电流谐波含有率(%)", "B相电流谐波含有率(%)", "C相电流谐波含有率(%)"};
    for (int i = 0; i < 6; ++i) {
        const auto cells = Split(lines[static_cast<std::size_t>(4 + i)], '\t');
        ASSERT_EQ(cells.size(), 31u) << i;
        EXPECT_EQ(cells[0], titles[i]);
        for (std::size_t k = 1; k < cells.size(); ++k)
            EXPECT_EQ(cells[k].size() - cells[k].find('.'), 3u) << cells[k];
    }
    // One phase per request, as the chart pages read them; a page's last tick asks for nothing.
    std::vector<int> starts;
    for (const Frame& f : port.Sent()) starts.push_back(StartOf(f));
    EXPECT_EQ(starts, (std::vector<int>{800, 806, 836, 866, 896, 926, 956}));
}

TEST_F(MonitorCommands, AlarmsPrintOneLinePerRedCellInRowThenColumnOrder) {
    ASSERT_EQ(Run({"alarms"}), kExitOk) << err.str();
    EXPECT_EQ(out.str(), "");  // nothing active
    EXPECT_EQ(clock.nowMs(), 400 + 2 * 500);
    bus.SetRegister(1, 504, 21000);  // every phase above its upper limit
    bus.WithModule(1, [](VirtualModule& m) { m.SetCircuitFault(17, true); });
    bus.SetRegister(1, 536, 10);  // outlet 30 above 0.10 A
    ASSERT_EQ(Run({"alarms"}), kExitOk) << err.str();
    EXPECT_EQ(out.str(),
              "1\t1\tUa Upper limit\n2\t1\tUb Upper limit\n3\t1\tUc Upper limit\n"
              "21\t2\tOutlet 17 Module Communication fault\n34\t1\tOutlet 30 Current Upper limit\n");
}

TEST_F(MonitorCommands, WithNobodyAnsweringEachCommandFailsWithItsFormsMessage) {
    bus.InjectFault(1, {BusFault::Kind::NoReply});
    for (const char* command : {"totals", "harmonics", "alarms", "io"}) {
        EXPECT_EQ(Run({command}), kExitFailed) << command;
        EXPECT_EQ(err.str(), "Unable to read meter data!\nkvt40ctl: No reply from module 1\n") << command;
        EXPECT_TRUE(out.str().empty()) << command;
    }
    EXPECT_EQ(Run({"io", "--relay1", "on", "--relay2", "on"}), kExitFailed);
    EXPECT_TRUE(port.Sent().size() <= 3u);  // no coil is written to a silent module
}

TEST_F(MonitorCommands, IoPrintsTheFourLampsAndTheRelayTestSetsThem) {
    bus.WithModule(1, [](VirtualModule& m) {
        m.SetInputOverride(0, false);
        m.SetInputOverride(1, true);
    });
    ASSERT_EQ(Run({"io"}), kExitOk) << err.str();
    EXPECT_EQ(out.str(), "DI1\t0\nDI2\t1\nDO1\t0\nDO2\t0\n");
    EXPECT_EQ(clock.nowMs(), 3 * 500);

    ASSERT_EQ(Run({"io", "--relay1", "off", "--relay2", "on"}), kExitOk) << err.str();
    EXPECT_EQ(out.str(), "DI1\t0\nDI2\t1\nDO1\t0\nDO2\t1\n");
    const auto& sent = port.Sent();  // since this run opened the port
    const Frame off0 = WithCrc({0x01, 0x05, 0x00, 0x00, 0x00, 0x00});
    const Frame on1 = WithCrc({0x01, 0x05, 0x00, 0x01, 0xFF, 0x00});
    ASSERT_EQ(sent.size(), 2u + 4u + 2u);  // each round's last tick asks for nothing
    EXPECT_EQ((std::vector<Frame>(sent.begin() + 2, sent.begin() + 6)),
              (std::vector<Frame>{off0, on1, off0, on1}));
}

// A module that answers 50 ms late: no command writes while a reply is on its way (the
// module would be talking) and none leaves a reply coming for the next command to read.
TEST_F(MonitorCommands, PollingCommandsReadEveryReplyOfALateModuleBeforeTheyWriteOrEnd) {
    bus.WithModule(1, [](VirtualModule& m) { m.SetTurnaroundMs(VirtualModule::kTurnaroundMs + 50); });
    const std::vector<std::vector<std::string>> commands = {
        {"harmonics"},
        {"demand"},
        {"alarms"},
        {"io"},
        {"io", "--relay1", "on", "--relay2", "off"},
        {"measure"},
        {"measure", "--watch", "--count", "1"},
        {"totals"},
        {"calibrate", "--view", "line", "--mode", "test"}};
    for (const auto& args : commands) {
        const std::string name = args[0] + " " + (args.size() > 1 ? args[1] : "");
        watch.wire.clear();
        const int code = Run(args);
        EXPECT_TRUE(code == kExitOk || (args[0] == "calibrate" && code == 3)) << name << ": " << err.str();
        EXPECT_TRUE(watch.overlapped.empty())
            << name << ": " << watch.overlapped.size() << " requests overlapped";
        watch.overlapped.clear();
        clock.advanceMs(1000);
        std::vector<std::uint8_t> rx(256);
        EXPECT_EQ(port.Read(rx), 0) << name << ": a reply left for the next command";
        if (args[0] == "harmonics") {
            EXPECT_EQ(watch.wire, "WRWRWRWRWRWRWR");
        }
    }
}

TEST_F(MonitorCommands, UsageErrorsSendNothing) {
    const std::vector<std::vector<std::string>> bad = {
        {"io", "--relay1", "on"},
        {"io", "--relay2", "off"},
        {"io", "--relay1", "yes", "--relay2", "on"},
        {"measure", "--count", "3"},
        {"measure", "--watch", "--count", "0"},
        {"measure", "--watch", "--count", "x"},
        {"totals", "extra"},
    };
    for (const auto& args : bad) {
        EXPECT_EQ(Run(args), kExitUsage) << args[0] << " " << args[1];
        const std::string e = err.str();
        EXPECT_EQ(e.rfind("kvt40ctl: ", 0), 0u) << e;
        EXPECT_EQ(std::count(e.begin(), e.end(), '\n'), 1) << e;
    }
    EXPECT_TRUE(port.Sent().empty());
}

TEST_F(MonitorCommands, MeasureWatchPrintsAHeaderThenOneLinePerCycle) {
    ASSERT_EQ(Run({"measure", "--watch", "--count", "2"}), kExitOk) << err.str();
    const auto lines = Lines(out.str());
    ASSERT_EQ(lines.size(), 3u);
    const auto header = Split(lines[0], ',');
    ASSERT_EQ(header.size(), 5u + 30u * 6u);
    EXPECT_EQ(
        (std::vector<std::string>(header.begin(), header.begin() + 11)),
        (std::vector<std::string>{"time", "Ua", "Ub", "Uc", "F", "I1", "P1", "Q1", "S1", "kWh1", "kvarh1"}));
    EXPECT_EQ(header.back(), "kvarh30");
    const auto row = Split(lines[1], ',');
    ASSERT_EQ(row.size(), header.size());
    EXPECT_EQ(row[0], "2026-12-09T14:02:31+01:00");
    EXPECT_NEAR(std::stod(row[1]), 220.0, 5.0);
    EXPECT_EQ(row[5].size() - row[5].find('.'), 4u);  // current "%0.3f"
    EXPECT_EQ(clock.nowMs(), 2 * 6 * 600);
    EXPECT_TRUE(err.str().empty());

    // Plain measure keeps its grid.
    ASSERT_EQ(Run({"measure"}), kExitOk);
    EXPECT_EQ(Lines(out.str()).size(), 33u);
}

TEST_F(MonitorCommands, MeasureWatchRestartsAfterAMissedReplyAndSaysWhen) {
    BusFault miss{BusFault::Kind::NoReply};
    miss.count = 2;  // the reply to the opening request and the first restart's probe
    bus.InjectFault(1, miss);
    ASSERT_EQ(Run({"measure", "--watch", "--count", "1"}), kExitOk) << err.str();
    EXPECT_EQ(err.str(),
              "2026-12-09T14:02:31+01:00 missed reply (No reply from module 1); restarting the cycle\n"
              "2026-12-09T14:02:31+01:00 cycle restarted\n");
    const auto lines = Lines(out.str());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(Split(lines[1], ',').size(), 185u);
    for (const auto& cell : Split(lines[1], ',')) EXPECT_FALSE(cell.empty());
}

}  // namespace
