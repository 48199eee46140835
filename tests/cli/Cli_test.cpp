#include "cli/Cli.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "link/LinkMonitor.h"
#include "link/LinkState.h"
#include "run/RunState.h"
#include "support/ScriptedPort.h"

namespace {

class CliTest : public ::testing::Test {
protected:
    CliTest() : port(clock) {
        env.clock = &clock;
        env.port = &port;
        env.open = [this](const std::string& n, int b, int d, int p, int s) {
            return port.Open(n, b, d, p, s);
        };
        env.listPorts = [] {
            return std::vector<std::string>{"/dev/ttyUSB0", "/dev/serial/by-id/usb-RS485-if00"};
        };
    }

    int Run(std::vector<std::string> args) {
        out.str("");
        err.str("");
        return RunCliArgs(args, env, out, err);
    }

    VirtualClock clock;
    ScriptedPort port;
    RunState run;
    CliEnv env{run};
    std::ostringstream out, err;
};

TEST_F(CliTest, UsageErrorsAreOneLineAndExitTwo) {
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"frobnicate"},
        {"read", "0"},
        {"--baud", "115200", "probe"},
        {"--address", "0", "probe"},
        {"--address", "x", "probe"},
        {"--port"},
        {"--bogus", "ports"},
        {"--port", "/dev/x", "read", "0", "126"},
        {"--port", "/dev/x", "read", "-1", "1"},
        {"--port", "/dev/x", "read", "65535", "2"},
        {"--port", "/dev/x", "--sim", "probe"},
        {"probe"},  // neither --port nor --sim
        {"--port", "", "probe"},
        {"read", "1", "2", "3"},
        // An empty value is an unset variable in a script, never the default.
        {"--port", "/dev/x", "--address", "", "probe"},
        {"--port", "/dev/x", "--address=", "probe"},
        {"--port", "/dev/x", "--baud", "", "probe"},
        {"--port", "/dev/x", "measure", "--watch", "--count", ""},
        {"--port", "/dev/x", "calibrate", "--view", "line", "--mode", "test", "--report", ""},
    };
    for (const auto& args : bad) {
        EXPECT_EQ(Run(args), kExitUsage) << (args.empty() ? "" : args[0]);
        const std::string e = err.str();
        EXPECT_EQ(e.rfind("kvt40ctl: ", 0), 0u) << e;
        EXPECT_EQ(std::count(e.begin(), e.end(), '\n'), 1) << e;
        EXPECT_TRUE(out.str().empty());
    }
    EXPECT_TRUE(port.opens.empty());  // nothing is opened, nothing reaches the bus on a usage error
    EXPECT_TRUE(port.writes.empty());
    EXPECT_EQ(Run({"--port", "/dev/x", "measure", "--watch", "--count", ""}), kExitUsage);
    EXPECT_EQ(err.str(), "kvt40ctl: --count needs a value, not an empty text\n");
}

TEST_F(CliTest, HelpListsTheCommands) {
    EXPECT_EQ(Run({"--help"}), kExitOk);
    for (const char* c : {"ports", "probe", "read START COUNT", "--port", "--address", "--baud", "--sim"}) {
        EXPECT_NE(out.str().find(c), std::string::npos) << c;
    }
}

TEST_F(CliTest, PortsOnePerLine) {
    EXPECT_EQ(Run({"ports"}), kExitOk);
    EXPECT_EQ(out.str(), "/dev/ttyUSB0\n/dev/serial/by-id/usb-RS485-if00\n");
}

TEST_F(CliTest, ProbePrintsTheStatusWithoutItsTab) {
    port.replies.push_back(ProbeReply(5));
    EXPECT_EQ(Run({"--port", "/dev/pts/3", "--address", "5", "probe"}), kExitOk);
    EXPECT_EQ(out.str(), "[ Device ID : 5 ] /dev/pts/3 9600bps \n");
    EXPECT_EQ(port.writes.at(0), WithCrc({0x05, 0x03, 0x00, 0x00, 0x00, 0x0A}));
    EXPECT_EQ(port.opens.at(0).baud, 9600);
}

TEST_F(CliTest, ProbeFailuresGoToStderrWithExitOne) {
    EXPECT_EQ(Run({"--port", "/dev/pts/3", "--baud", "19200", "probe"}), kExitFailed);
    EXPECT_EQ(err.str(), "Communication failed!\nkvt40ctl: No reply from module 1\n");
    EXPECT_TRUE(out.str().empty());
    EXPECT_EQ(port.writes.size(), 1u);  // Cancel: no second probe

    port.openResults = {false};
    EXPECT_EQ(Run({"--port", "/dev/x", "probe"}), kExitFailed);
    EXPECT_EQ(err.str(), "Cannot open/dev/x!\n");

    // The first line stays as scripts match it; the second says why.
    env.openFailure = [] { return std::string("in use by another program"); };
    port.openResults = {false};
    EXPECT_EQ(Run({"--port", "/dev/x", "read", "0", "1"}), kExitFailed);
    EXPECT_EQ(err.str(), "Cannot open/dev/x!\nkvt40ctl: in use by another program\n");
}

TEST_F(CliTest, AFailedWriteToStandardOutputIsAFailure) {
    std::ostream broken(nullptr);  // every write fails
    EXPECT_EQ(RunCliArgs({"ports"}, env, broken, err), kExitFailed);
    EXPECT_EQ(err.str(), "kvt40ctl: cannot write to standard output\n");
}

TEST_F(CliTest, ACommandsHelpListsItsArguments) {
    EXPECT_EQ(Run({"read", "--help"}), kExitOk);
    EXPECT_NE(out.str().find("START"), std::string::npos);
    EXPECT_NE(out.str().find("COUNT"), std::string::npos);
    EXPECT_TRUE(port.writes.empty());
}

TEST_F(CliTest, ReadPrintsAddressTabValue) {
    port.replies.push_back(RegistersReply(1, 3, 21999));
    EXPECT_EQ(Run({"--port", "/dev/pts/3", "read", "500", "3"}), kExitOk);
    EXPECT_EQ(out.str(), "500\t21999\n501\t22000\n502\t22001\n");
    EXPECT_EQ(port.writes.at(0), WithCrc({0x01, 0x03, 0x01, 0xF4, 0x00, 0x03}));
}

// A failure keeps the first line scripts match and adds one line saying what the link saw.
TEST_F(CliTest, ReadFailsOnABadOrShortReplyAndSaysWhy) {
    EXPECT_EQ(Run({"--port", "/dev/pts/3", "read", "0", "10"}), kExitFailed);
    EXPECT_EQ(err.str(), "Communication failed!\nkvt40ctl: No reply from module 1\n");

    struct Case {
        Frame reply;
        const char* reason;
    };
    Frame badCrc = RegistersReply(1, 10);
    badCrc[4] ^= 0x40;
    const std::vector<Case> cases = {
        {Hex("01 83 02 C0 F1"), "Exception 2 from module 1: illegal data address"},
        {badCrc, "Bad CRC in the reply of module 1"},
        {RegistersReply(1, 2), "Short reply from module 1"},
        {RegistersReply(1, 11), "Reply of the wrong length from module 1"},
    };
    for (const Case& c : cases) {
        port.replies.push_back(c.reply);
        EXPECT_EQ(Run({"--port", "/dev/pts/3", "read", "0", "10"}), kExitFailed);
        EXPECT_EQ(err.str(), std::string("Communication failed!\nkvt40ctl: ") + c.reason + "\n");
        EXPECT_TRUE(out.str().empty());
    }

    port.openResults = {false};
    EXPECT_EQ(Run({"--port", "/dev/x", "read", "0", "1"}), kExitFailed);
    EXPECT_EQ(err.str(), "Cannot open/dev/x!\n");
}

// --trace writes a line per frame as it goes, --stats the counts at the end; both on stderr
// for '-', so stdout stays what scripts parse. A trace path that cannot be written stops the
// command before the port opens.
TEST_F(CliTest, TraceAndStatisticsGoBesideTheOutput) {
    port.replies.push_back(RegistersReply(1, 1, 21999));
    EXPECT_EQ(Run({"--port", "/dev/pts/3", "--trace", "-", "--stats", "read", "500", "1"}), kExitOk);
    EXPECT_EQ(out.str(), "500\t21999\n");
    EXPECT_EQ(
        err.str(),
        FrameLineHeader() + "\n" +
            "     0.000 TX    1 03 start=500,count=1            8 ok         -  01 03 01 F4 00 01 C4 04\n"
            "   200.000 RX    1 03 bytes=2                      7 ok     200.0  01 03 02 55 EF C6 98\n"
            "kvt40ctl: link statistics\n"
            "addr  requests   replies  no_reply bad_crc wrong_length exceptions  port_lost   mean_ms    "
            "max_ms\n"
            "   1         1         1         0       0            0          0          0     200.0     "
            "200.0\n");

    const std::string path = ::testing::TempDir() + "kvt40ctl-trace.txt";
    EXPECT_EQ(Run({"--port", "/dev/pts/3", "--trace", path, "read", "0", "1"}), kExitFailed);  // no reply
    std::ifstream in(path);
    std::string header, request, missing, rest;
    std::getline(in, header);
    std::getline(in, request);
    std::getline(in, missing);
    EXPECT_EQ(header, FrameLineHeader());
    EXPECT_NE(request.find(" TX    1 03 start=0,count=1 "), std::string::npos) << request;
    EXPECT_NE(missing.find(" --    1 -- no-reply "), std::string::npos) << missing;
    EXPECT_FALSE(std::getline(in, rest));

    const std::size_t opens = port.opens.size();
    EXPECT_EQ(Run({"--port", "/dev/pts/3", "--trace", "/nonexistent/dir/trace.txt", "read", "0", "1"}),
              kExitUsage);
    EXPECT_EQ(
        err.str(),
        "kvt40ctl: cannot write the trace file /nonexistent/dir/trace.txt: No such file or directory\n");
    EXPECT_EQ(port.opens.size(), opens);
}

TEST_F(CliTest, SimWithoutAVirtualModuleSaysSo) {
    EXPECT_EQ(Run({"--sim", "probe"}), kExitFailed);
    EXPECT_EQ(err.str(), "kvt40ctl: the virtual module is not available\n");
}

}  // namespace

#include "sim/SimPort.h"
#include "sim/VirtualBus.h"
#include "support/CommandFixture.h"

namespace {

// The jobs against the virtual module on the virtual clock, as `kvt40ctl --sim` runs them.
class CliOnVirtualModule : public CommandFixture {
protected:
    CliOnVirtualModule() : CommandFixture(7) {}
};

TEST_F(CliOnVirtualModule, MeasurePrintsTheWholeGrid) {
    ASSERT_EQ(Run({"--sim", "--address", "7", "measure"}), kExitOk) << err.str();
    std::vector<std::string> lines;
    std::istringstream in(out.str());
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    ASSERT_EQ(lines.size(), 33u);
    for (const auto& l : lines) EXPECT_EQ(std::count(l.begin(), l.end(), '\t'), 6) << l;
    EXPECT_EQ(lines[0], "Line\tVA (V)\tVB (V)\tVC (V)\t\tFrequency (Hz)\t");
    EXPECT_EQ(lines[32].substr(0, 3), "30\t");
    const double ua = std::stod(lines[1].substr(1, lines[1].find('\t', 1) - 1));
    EXPECT_NEAR(ua, 220.0, 5.0);
    EXPECT_EQ(clock.nowMs(), 6 * 600);
}

TEST_F(CliOnVirtualModule, MeasureFailsWhenTheModuleDoesNotAnswer) {
    EXPECT_EQ(Run({"--sim", "--address", "8", "measure"}), kExitFailed);
    EXPECT_EQ(err.str(), "Unable to read meter data!\nkvt40ctl: No reply from module 8\n");
    EXPECT_TRUE(out.str().empty());
}

TEST_F(CliOnVirtualModule, ProbeAndReadOfTheLineBlock) {
    ASSERT_EQ(Run({"--sim", "--address", "7", "probe"}), kExitOk);
    EXPECT_EQ(out.str(), "[ Device ID : 7 ] Virtual module 9600bps \n");
    ASSERT_EQ(Run({"--sim", "--address", "7", "read", "0", "10"}), kExitOk);
    std::istringstream in(out.str());
    std::string first;
    std::getline(in, first);
    EXPECT_EQ(first.substr(0, 2), "0\t");
    EXPECT_NEAR(std::stoi(first.substr(2)), 22000, 500);
}

}  // namespace
