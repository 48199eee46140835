// The kvt40ctl program itself on its built-in virtual module: long replies, the baud rate
// given, a full standard output and the stop signals.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "link/SerialPort.h"
#include "sim/Process.h"
#include "support/Pty.h"

namespace {

e2e::RunResult Ctl(std::vector<std::string> args) {
    args.insert(args.begin(), KVT40CTL_EXE);
    return e2e::Run(args);
}

TEST(CliProcess, LongRepliesAndTheBaudRateOfTheBuiltInModule) {
    const auto read = Ctl({"--sim", "read", "0", "125"});
    EXPECT_EQ(read.code, 0);
    EXPECT_EQ(std::count(read.out.begin(), read.out.end(), '\n'), 125);
    const auto probe = Ctl({"--sim", "--baud", "19200", "--address", "9", "probe"});
    EXPECT_EQ(probe.code, 0);
    EXPECT_EQ(probe.out, "[ Device ID : 9 ] Virtual module 19200bps \n");
}

TEST(CliProcess, TheBuiltInModulesBenchFollowsTheStandardValues) {
    // The module reads what its bench feeds: 230 V when the source followed, 220 V (its
    // start) when not. Its uncalibrated gains are off by up to about 1 %.
    const auto r = Ctl({"--sim", "calibrate", "--view", "line", "--mode", "test", "--ua", "230", "--ub",
                        "230", "--uc", "230"});
    EXPECT_TRUE(r.code == 0 || r.code == 3) << r.code;
    std::istringstream lines(r.out);
    std::string line;
    std::getline(lines, line);  // the heading
    for (int phase = 0; phase < 3 && std::getline(lines, line); ++phase) {
        std::istringstream cells(line);
        std::string number, item, standard, reading;
        std::getline(cells, number, '\t');
        std::getline(cells, item, '\t');
        std::getline(cells, standard, '\t');
        std::getline(cells, reading, '\t');
        EXPECT_EQ(standard, "230.00");
        EXPECT_NEAR(std::stod(reading), 230.0, 4.0) << line;
    }
}

TEST(CliProcess, AnOpenFailureSaysWhyOnItsSecondLine) {
    const auto null = e2e::Run({KVT40CTL_EXE, "--port", "/dev/null", "probe"}, true);
    EXPECT_EQ(null.code, 1);
    EXPECT_EQ(null.out, "Cannot open/dev/null!\nkvt40ctl: not a serial device\n");
    const auto missing = e2e::Run({KVT40CTL_EXE, "--port", "/dev/no-such-port", "read", "0", "1"}, true);
    EXPECT_EQ(missing.code, 1);
    EXPECT_EQ(missing.out, "Cannot open/dev/no-such-port!\nkvt40ctl: no such file\n");
}

TEST(CliProcess, AFullStandardOutputIsExitOne) {
    const auto r =
        e2e::Run({"/bin/sh", "-c", std::string(KVT40CTL_EXE) + " --sim read 0 10 2>&1 > /dev/full"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, "kvt40ctl: cannot write to standard output\n");
}

TEST(CliProcess, StopSignalsCloseThePortAndEndTheCommand) {
    Pty bus;  // a module that hears the request and never answers
    ASSERT_TRUE(bus.ok());
    for (int sig : {SIGTERM, SIGINT}) {
        int fd = -1;
        const pid_t pid = e2e::Spawn({KVT40CTL_EXE, "--port", bus.path(), "measure"}, fd, true);
        ASSERT_GT(pid, 0);
        ASSERT_EQ(bus.Receive(8, 5000).size(), 8u);  // inside its first exchange now
        const auto t0 = std::chrono::steady_clock::now();
        kill(pid, sig);
        std::string said;
        EXPECT_EQ(e2e::Reap(pid, fd, 5000, &said), 130) << sig;
        EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(3));
        // Not "Unable to read meter data!": the module did nothing wrong.
        EXPECT_EQ(said, "kvt40ctl: interrupted\nkvt40ctl: nothing was written to the module\n") << sig;
        // The port is free for the next client.
        CSerialPort next;
        EXPECT_TRUE(next.Open(bus.path(), 9600, 8, 0, 0)) << sig;
    }
}

TEST(CliProcess, MeasureWatchEndsOnCtrlCAfterWholeLines) {
    int fd = -1;
    const pid_t pid = e2e::Spawn({KVT40CTL_EXE, "--sim", "measure", "--watch"}, fd);
    ASSERT_GT(pid, 0);
    // The header and the first cycle's line (about 3.6 s), then Ctrl-C.
    std::string out = e2e::ReadUntil(
        fd, 15000, [](const std::string& s) { return std::count(s.begin(), s.end(), '\n') >= 2; });
    ASSERT_EQ(std::count(out.begin(), out.end(), '\n'), 2) << out;
    kill(pid, SIGINT);
    EXPECT_EQ(e2e::Reap(pid, fd, 5000, &out), 130);
    EXPECT_EQ(out.back(), '\n');
    EXPECT_EQ(out.rfind("time,Ua,Ub,Uc,F,I1,", 0), 0u);
    const std::string line =
        out.substr(out.find('\n') + 1, out.find('\n', out.find('\n') + 1) - out.find('\n') - 1);
    EXPECT_EQ(std::count(line.begin(), line.end(), ','), 184) << line;
}

TEST(CliProcess, CtrlCInARetryBeforeItsTransferSaysWhatWentOutAndNothingFailed) {
    Pty bus;  // a module that hears the key and never answers
    ASSERT_TRUE(bus.ok());
    const std::string image = ::testing::TempDir() + "kvt40-ctlc-" + std::to_string(getpid()) + ".bin";
    std::ofstream(image, std::ios::binary) << "firmware";
    int fd = -1;
    const pid_t pid = e2e::Spawn({KVT40CTL_EXE, "--port", bus.path(), "retry", "--image", image}, fd, true);
    ASSERT_GT(pid, 0);
    ASSERT_EQ(bus.Receive(1, 5000), std::vector<std::uint8_t>{'1'});
    kill(pid, SIGINT);
    std::string said;
    EXPECT_EQ(e2e::Reap(pid, fd, 5000, &said), 130);
    EXPECT_EQ(said, "kvt40ctl: interrupted\nkvt40ctl: already written to the module: bootloader key\n");
    std::remove(image.c_str());
}

TEST(CliProcess, AClosedOutputPipeDoesNotKillACommandThatChangesTheModule) {
    // The reader is gone long before the clear is done: the command finishes, then says so.
    const auto r = e2e::Run({"/bin/sh", "-c",
                             "exec 3>&1; { " + std::string(KVT40CTL_EXE) +
                                 " --sim demand --clear; echo \"rc=$?\" >&3; } 2>&3 | true"});
    EXPECT_EQ(r.out, "kvt40ctl: cannot write to standard output\nrc=1\n");
}

}  // namespace
