// kvt40ctl limits, preset-energy, info and comm in-process against the virtual module on
// the virtual clock, as `kvt40ctl --sim` runs them.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "cli/Cli.h"
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

// 32 values: voltage upper, voltage lower, outlets 1 to 30.
std::string LimitsFile(const std::string& upper, const std::string& lower, const std::string& outlet,
                       const char* end = "\n") {
    std::string text = upper + end + lower + end;
    for (int n = 1; n <= 30; ++n) text += outlet + end;
    return text;
}

long LineCount(const std::string& text) {
    return std::count(text.begin(), text.end(), '\n');
}

class SettingsCliTest : public CommandFixture {
protected:
    SettingsCliTest() {
        // Opening again (the probe after a re-addressing) starts a new record; keep the old.
        env.open = [this](const std::string&, int baud, int, int, int) {
            const auto sent = port.Sent();
            wire.insert(wire.end(), sent.begin(), sent.end());
            openBauds.push_back(baud);
            return port.Open(baud);
        };
    }
    ~SettingsCliTest() override { std::filesystem::remove_all(dir); }

    // Every frame sent so far, across reopenings.
    std::vector<Frame> Wire() const {
        std::vector<Frame> all = wire;
        if (port.IsOpen()) {
            const auto sent = port.Sent();
            all.insert(all.end(), sent.begin(), sent.end());
        }
        return all;
    }
    std::string WriteFile(const std::string& text) {
        std::filesystem::create_directories(dir);
        const std::string path = (dir / "limits.txt").string();
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }

    std::vector<Frame> wire;
    std::vector<int> openBauds;
    std::filesystem::path dir =
        std::filesystem::temp_directory_path() /
        ("kvt40-settings-cli-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
         ::testing::UnitTest::GetInstance()->current_test_info()->name());
};

TEST_F(SettingsCliTest, HelpListsTheSettingsCommands) {
    ASSERT_EQ(Run({"--help"}), kExitOk);
    for (const char* c : {"limits [--set FILE|-]", "preset-energy --outlet N --active X --reactive Y", "info",
                          "comm [--set-address N [--set-baud B]]"})
        EXPECT_NE(out.str().find(c), std::string::npos) << c;
}

TEST_F(SettingsCliTest, LimitsPrintsTheGridAsFirstShown) {
    ASSERT_EQ(Run({"--sim", "limits"}), kExitOk) << err.str();
    const auto lines = Lines(out.str());
    ASSERT_EQ(lines.size(), 33u);
    for (const auto& l : lines) EXPECT_EQ(std::count(l.begin(), l.end(), '\t'), 2) << l;
    EXPECT_EQ(lines[0], "Item\tInitial value\tSetting value");
    EXPECT_EQ(lines[1], "Voltage Upper limit\t264.00 V\t264.00");
    EXPECT_EQ(lines[2], "Voltage Lower limit\t176.00 V\t176.00");
    EXPECT_EQ(lines[3], "Outlet 1 Current Upper limit\t63.00  A\t63.00");
    EXPECT_EQ(lines[32], "Outlet 30 Current Upper limit\t63.00  A\t63.00");
    EXPECT_TRUE(err.str().empty());

    EXPECT_EQ(Run({"--sim", "--address", "2", "limits"}), kExitFailed);
    EXPECT_EQ(err.str(), "Unable to read meter data!\nkvt40ctl: No reply from module 2\n");
    EXPECT_TRUE(out.str().empty());
}

TEST_F(SettingsCliTest, LimitsSetWritesTheFileThenPrintsTheReadBack) {
    std::string text = LimitsFile("230.00", "0.29", "10.5", "\r\n");
    text.pop_back();  // a last line without its line end counts too
    text.pop_back();
    const std::string path = WriteFile(text);
    ASSERT_EQ(Run({"--sim", "limits", "--set", path}), kExitOk) << err.str();
    EXPECT_EQ(clock.nowMs(), 300 + 300 + 400);
    const auto frames = Wire();
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[0], WithCrc(Hex("01 10 01 F8 00 02 04 59 D8 00 1D")));
    Frame currents = Hex("01 10 01 FB 00 1E 3C");
    for (int n = 0; n < 30; ++n) currents.insert(currents.end(), {0x04, 0x1A});  // 1050
    EXPECT_EQ(frames[1], WithCrc(currents));
    EXPECT_EQ(frames[2], WithCrc(Hex("01 03 01 F8 00 21")));

    const auto lines = Lines(out.str());
    ASSERT_EQ(lines.size(), 33u);
    EXPECT_EQ(lines[1], "Voltage Upper limit\t230.00V\t230.00");
    EXPECT_EQ(lines[2], "Voltage Lower limit\t0.29V\t0.29");
    EXPECT_EQ(lines[3], "Outlet 1 Current Upper limit\t10.50  A\t10.50");
    EXPECT_EQ(lines[32], "Outlet 30 Current Upper limit\t10.50  A\t10.50");
    EXPECT_EQ(bus.ReadRegister(1, 505), 29);
}

TEST_F(SettingsCliTest, LimitsSetFromStandardInput) {
    std::istringstream in(LimitsFile("250", "190", "0"));
    std::streambuf* saved = std::cin.rdbuf(in.rdbuf());
    const int code = Run({"--sim", "limits", "--set", "-"});
    std::cin.rdbuf(saved);
    ASSERT_EQ(code, kExitOk) << err.str();
    EXPECT_EQ(Lines(out.str()).at(1), "Voltage Upper limit\t250.00V\t250.00");
    EXPECT_EQ(bus.ReadRegister(1, 504), 25000);
}

TEST_F(SettingsCliTest, LimitsSetFileFaultsAreUsageErrorsAndSendNothing) {
    const std::string good = LimitsFile("230", "200", "10");
    std::string tabbed = good;
    tabbed.replace(tabbed.find("10"), 2, "10\t5");
    const std::vector<std::string> files{good.substr(0, good.size() - 3),  // 31 lines
                                         good + "\n",                      // 33: an empty last line
                                         good + "10\n", "", tabbed};
    for (const auto& text : files) {
        EXPECT_EQ(Run({"--sim", "limits", "--set", WriteFile(text)}), kExitUsage) << text;
        EXPECT_EQ(err.str().rfind("kvt40ctl: ", 0), 0u) << err.str();
        EXPECT_EQ(LineCount(err.str()), 1) << err.str();
    }
    EXPECT_EQ(Run({"--sim", "limits", "--set", WriteFile(good.substr(0, good.size() - 3))}), kExitUsage);
    EXPECT_EQ(err.str(),
              "kvt40ctl: '" + (dir / "limits.txt").string() +
                  "' must hold 32 lines (voltage upper, voltage lower, outlets 1 to 30), not 31\n");
    EXPECT_EQ(Run({"--sim", "limits", "--set", (dir / "missing.txt").string()}), kExitUsage);
    EXPECT_EQ(err.str(),
              "kvt40ctl: cannot read '" + (dir / "missing.txt").string() + "': No such file or directory\n");
    EXPECT_EQ(Run({"--sim", "limits", "--set", dir.string()}), kExitUsage);
    EXPECT_EQ(err.str(), "kvt40ctl: cannot read '" + dir.string() + "': it is a directory\n");
    EXPECT_TRUE(out.str().empty());
    EXPECT_TRUE(openBauds.empty());
    EXPECT_TRUE(Wire().empty());
}

// Every line is a plain decimal number or the file is refused, naming the line: a value
// the form's lenient reading would take as 0 (alarm off) must never reach the module.
TEST_F(SettingsCliTest, LimitsFileLinesAreRefusedUnlessPlainDecimals) {
    const std::string good = LimitsFile("230", "200", "10");
    auto withLine5 = [](const std::string& line) {
        std::string text = "230\n200\n10\n10\n" + line + "\n";
        for (int n = 4; n <= 30; ++n) text += "10\n";
        return text;
    };
    auto utf16 = [](const std::string& ascii, bool bigEndian) {
        std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
        for (const char c : ascii) bytes += bigEndian ? std::string{'\0', c} : std::string{c, '\0'};
        return bytes;
    };
    const std::string crlf = LimitsFile("230", "200", "10", "\r\n");
    const std::string lineFive = "kvt40ctl: line 5 of '" + (dir / "limits.txt").string() +
                                 "' is not a plain decimal number (such as 230 or 10.5)\n";
    const std::vector<std::pair<std::string, std::string>> files{
        // Read: a UTF-8 mark skipped, UTF-16 from a Windows shell's redirect in both byte orders.
        {"\xEF\xBB\xBF" + good, ""},
        {utf16(crlf, false), ""},
        {utf16(good, true), ""},
        {withLine5("10.25"), ""},
        {withLine5("63."), ""},
        // Refused, naming the line.
        {withLine5("\xEF\xBC\x91\xEF\xBC\x90"), lineFive},  // full-width 10
        {withLine5("abc"), lineFive},
        {withLine5("0x108"), lineFive},
        {withLine5("inf"), lineFive},
        {withLine5("230,5"), lineFive},
        {withLine5("1e2"), lineFive},
        {withLine5(" 10"), lineFive},
        {withLine5("-10"), lineFive},
        {withLine5("1.0.0"), lineFive},
        {withLine5("."), lineFive},
        {withLine5(""), lineFive},
        {withLine5(std::string("1\0", 2)), lineFive},
        {utf16(withLine5("\x7F"), false), lineFive},
        // UTF-16 cut short: how to save the file instead.
        {utf16(good, false) + "x",
         "kvt40ctl: '" + (dir / "limits.txt").string() +
             "' is cut short UTF-16 text: save it as UTF-8 or ANSI text, one number a line\n"},
    };
    for (const auto& [text, message] : files) {
        openBauds.clear();
        const std::size_t sent = Wire().size();
        const int code = Run({"--sim", "limits", "--set", WriteFile(text)});
        if (message.empty()) {
            EXPECT_EQ(code, kExitOk) << text << err.str();
            EXPECT_EQ(bus.ReadRegister(1, 504), 23000);
            EXPECT_EQ(bus.ReadRegister(1, 507), 1000);
            bus.SetRegister(1, 504, 26400);
            continue;
        }
        EXPECT_EQ(code, kExitUsage) << text;
        EXPECT_EQ(err.str(), message) << text;
        EXPECT_TRUE(out.str().empty());
        EXPECT_TRUE(openBauds.empty());
        EXPECT_EQ(Wire().size(), sent);
    }
}

// The form shows the read-back and judges nothing; the command must not call it done.
TEST_F(SettingsCliTest, LimitsSetThatTheModuleRefusesOrDropsExitsOne) {
    const std::string path = WriteFile(LimitsFile("230", "200", "10"));
    BusFault refused{BusFault::Kind::Refused};
    refused.function = 0x10;
    bus.InjectFault(1, refused);
    EXPECT_EQ(Run({"--sim", "limits", "--set", path}), kExitFailed);
    EXPECT_EQ(
        err.str(),
        "kvt40ctl: the write to register 504 failed: Exception 4 from module 1: server device failure\n");
    EXPECT_EQ(Lines(out.str()).at(1), "Voltage Upper limit\t264.00V\t264.00");  // the grid read back

    // The voltages are dropped with a good echo; the currents are kept.
    BusFault ignored{BusFault::Kind::Ignored};
    ignored.function = 0x10;
    ignored.count = 1;
    bus.InjectFault(1, ignored);
    EXPECT_EQ(Run({"--sim", "limits", "--set", path}), kExitFailed);
    EXPECT_EQ(err.str(), "kvt40ctl: register 504 reads 26400 after 23000 was written\n");
    EXPECT_EQ(bus.ReadRegister(1, 536), 1000);

    // Both writes dropped, the voltages unchanged: the first outlet is the first difference.
    bus.ClearFault(1);
    ASSERT_EQ(Run({"--sim", "limits", "--set", path}), kExitOk) << err.str();
    ignored.count = 2;
    bus.InjectFault(1, ignored);
    EXPECT_EQ(Run({"--sim", "limits", "--set", WriteFile(LimitsFile("230", "200", "10.5"))}), kExitFailed);
    EXPECT_EQ(err.str(), "kvt40ctl: register 507 reads 1000 after 1050 was written\n");
}

TEST_F(SettingsCliTest, LimitsSetRefusalsPrintTheFirstFaultAndSendNothing) {
    EXPECT_EQ(Run({"--sim", "limits", "--set", WriteFile(LimitsFile("200", "230", "0.5"))}), kExitFailed);
    EXPECT_EQ(err.str(), "The lower voltage limit must be less than the voltage limit!\n");
    EXPECT_TRUE(out.str().empty());
    EXPECT_TRUE(Wire().empty());
}

TEST_F(SettingsCliTest, PresetEnergyPrintsTheFormsResult) {
    ASSERT_EQ(Run({"--sim", "preset-energy", "--outlet", "1", "--active", "1234.5", "--reactive", "0"}),
              kExitOk)
        << err.str();
    EXPECT_EQ(out.str(), "写入数据成功!\n");
    EXPECT_EQ(clock.nowMs(), 3000);
    ASSERT_EQ(Wire().size(), 1u);
    EXPECT_EQ(Wire()[0], WithCrc(Hex("01 10 24 2A 00 06 0C 03 E7 00 00 30 39 00 00 00 00 00 00")));
    // The module counts on from the preset.
    bus.WithModule(1, [&](VirtualModule& m) { EXPECT_EQ(m.OutletActiveEnergy(1, clock.now()), 12345u); });

    EXPECT_EQ(Run({"--sim", "--address", "2", "preset-energy", "--outlet", "1", "--active", "1", "--reactive",
                   "1"}),
              kExitFailed);
    EXPECT_EQ(err.str(), "无法写入数据，请确认是否连接正确!\nkvt40ctl: No reply from module 2\n");
    EXPECT_TRUE(out.str().empty());
}

TEST_F(SettingsCliTest, PresetEnergyRefusalsSendNothing) {
    EXPECT_EQ(Run({"--sim", "preset-energy", "--outlet", "31", "--active", "1", "--reactive", "1"}),
              kExitFailed);
    EXPECT_EQ(err.str(), "The outlet must be a whole number from 1 to 30.\n");
    EXPECT_EQ(Run({"--sim", "preset-energy", "--outlet", "1", "--active", "1", "--reactive", "-0.1"}),
              kExitFailed);
    EXPECT_EQ(err.str(), "The reactive energy must be a number from 0.0 to 99999999.9.\n");
    EXPECT_TRUE(out.str().empty());
    EXPECT_EQ(Run({"--sim", "preset-energy", "--outlet", "1", "--active", "1"}), kExitUsage);
    EXPECT_TRUE(openBauds.empty());
    EXPECT_TRUE(Wire().empty());
}

TEST_F(SettingsCliTest, InfoPrintsTheMeterInformation) {
    ASSERT_EQ(Run({"--sim", "info"}), kExitOk) << err.str();
    EXPECT_EQ(out.str(),
              "项目\t当前值\t设定值\n软件版本\t104\t/\n测试版本\t3\t/\n定制单号\tSIM-KVT40-01\t/"
              "\n硬件版本\t2\t/\n");
    EXPECT_EQ(Wire().size(), 4u);

    bus.SetRegister(1, 9502, 0);
    ASSERT_EQ(Run({"--sim", "info"}), kExitOk);
    EXPECT_EQ(Lines(out.str()).at(3), "定制单号\t/\t/");

    EXPECT_EQ(Run({"--sim", "--address", "2", "info"}), kExitFailed);
    EXPECT_EQ(err.str(), "无法读取仪表数据!\nkvt40ctl: No reply from module 2\n");
    EXPECT_TRUE(out.str().empty());
}

TEST_F(SettingsCliTest, CommPrintsTheGridAfterRead) {
    ASSERT_EQ(Run({"--sim", "comm"}), kExitOk) << err.str();
    EXPECT_EQ(out.str(),
              "Item\tInitial value\tSetting value\nDevice address\t1\t1\nBaudrate\t9600 \t9600 \n");
    EXPECT_EQ(Wire(), (std::vector<Frame>{WithCrc(Hex("01 03 01 F4 00 07"))}));

    EXPECT_EQ(Run({"--sim", "--address", "3", "comm", "--set-address", "5"}), kExitFailed);
    EXPECT_EQ(err.str(), "Communication failed!\nkvt40ctl: No reply from module 3\n");
    EXPECT_TRUE(out.str().empty());
    EXPECT_EQ(Wire().size(), 2u);  // the read only, nothing written
}

// The form's read-back follows the module to its new settings; the probe there decides.
TEST_F(SettingsCliTest, CommReaddressesAndProbesTheNewSettings) {
    ASSERT_EQ(Run({"--sim", "comm", "--set-address", "9", "--set-baud", "19200"}), kExitOk) << err.str();
    EXPECT_EQ(out.str(),
              "Item\tInitial value\tSetting value\nDevice address\t9\t9\nBaudrate\t19200 \t19200 \n"
              "[ Device ID : 9 ] Virtual module 19200bps \n");
    EXPECT_TRUE(err.str().empty()) << err.str();
    const auto frames = Wire();
    ASSERT_EQ(frames.size(), 4u);
    EXPECT_EQ(frames[1], WithCrc(Hex("01 10 01 F4 00 02 04 00 09 00 02")));
    EXPECT_EQ(frames[2], WithCrc(Hex("09 03 01 F4 00 07")));
    EXPECT_EQ(frames[3], WithCrc(Hex("09 03 00 00 00 0A")));
    EXPECT_EQ(openBauds, (std::vector<int>{9600, 19200, 19200}));
}

// "1abc" is 1, as the form takes it; the read-back puts the module's value in its place.
TEST_F(SettingsCliTest, CommWithTheSameSettingsReadsBackAndProbes) {
    ASSERT_EQ(Run({"--sim", "comm", "--set-address", "1abc"}), kExitOk) << err.str();
    EXPECT_EQ(out.str(),
              "Item\tInitial value\tSetting value\nDevice address\t1\t1\nBaudrate\t9600 \t9600 \n"
              "[ Device ID : 1 ] Virtual module 9600bps \n");
    EXPECT_TRUE(err.str().empty());
    EXPECT_EQ(Wire().at(1), WithCrc(Hex("01 10 01 F4 00 02 04 00 01 00 01")));
}

TEST_F(SettingsCliTest, CommExitsOneWhenTheModuleIsNotFoundAtItsNewSettings) {
    bus.InjectFault(9, {BusFault::Kind::NoReply});
    EXPECT_EQ(Run({"--sim", "comm", "--set-address", "9"}), kExitFailed);
    EXPECT_EQ(err.str(),
              "The module answers neither at address 9, 9600 bps nor at address 1, 9600 bps: Communication "
              "failed!\n"
              "Communication failed!\n"
              "kvt40ctl: No reply from module 9\n");
    EXPECT_EQ(Lines(out.str()).size(), 3u);  // the grid, and no status
}

// Refused before the port is opened: the module is not even read.
TEST_F(SettingsCliTest, CommRefusalsAndUsageErrors) {
    for (const char* address : {"0", "248", "abc"}) {
        EXPECT_EQ(Run({"--sim", "comm", "--set-address", address}), kExitUsage);
        EXPECT_EQ(err.str(),
                  "kvt40ctl: --set-address must be from 1 to 247, not '" + std::string(address) + "'\n");
        EXPECT_TRUE(out.str().empty());
    }
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--sim", "comm", "--set-address", "5", "--set-baud", "115200"},
          std::vector<std::string>{"--sim", "comm", "--set-address", "5", "--set-baud", "fast"},
          std::vector<std::string>{"--sim", "comm", "--set-baud", "4800"},
          std::vector<std::string>{"--sim", "comm", "--set-address", ""}}) {
        EXPECT_EQ(Run(args), kExitUsage) << args.back();
        EXPECT_EQ(err.str().rfind("kvt40ctl: ", 0), 0u) << err.str();
    }
    EXPECT_TRUE(openBauds.empty());
    EXPECT_TRUE(Wire().empty());
}

}  // namespace
