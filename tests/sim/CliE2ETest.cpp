// kvt40ctl on the real serial port against the kvt40-sim program.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>

#include <sstream>

#include "Process.h"

TEST(CliE2E, ProbeAndReadThroughThePty) {
    e2e::SimProcess sim({});
    ASSERT_FALSE(sim.Path().empty());

    const auto probe = e2e::Run({KVT40CTL_EXE, "--port", sim.Path(), "--address", "1", "probe"});
    EXPECT_EQ(probe.code, 0);
    EXPECT_NE(probe.out.find("[ Device ID : 1 ] " + sim.Path() + " 9600bps "), std::string::npos) << probe.out;

    const auto read = e2e::Run({KVT40CTL_EXE, "--port", sim.Path(), "--address", "1", "read", "0", "10"});
    EXPECT_EQ(read.code, 0);
    std::istringstream lines(read.out);
    int reg = -1;
    int value = 0;
    int voltages = 0;
    while (lines >> reg >> value)
        if (reg <= 2) {
            EXPECT_NEAR(value, 22000, 100) << "register " << reg;
            ++voltages;
        }
    EXPECT_EQ(voltages, 3) << read.out;
    EXPECT_EQ(sim.Terminate(), 0);
}

TEST(CliE2E, LinkPointsAtThePtyAndGoesAtExit) {
    const std::string link = ::testing::TempDir() + "kvt40-sim-link";
    (void)unlink(link.c_str());
    ASSERT_EQ(symlink("/nonexistent", link.c_str()), 0);  // a stale link is replaced
    e2e::SimProcess sim({"--link", link});
    ASSERT_FALSE(sim.Path().empty());
    char target[256] = {};
    ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(std::string(target), sim.Path());
    const auto probe = e2e::Run({KVT40CTL_EXE, "--port", link, "--address", "1", "probe"});
    EXPECT_EQ(probe.code, 0);
    EXPECT_EQ(sim.Terminate(), 0);
    struct stat st{};
    EXPECT_NE(lstat(link.c_str(), &st), 0);
}

TEST(CliE2E, HangUpAndInterruptRemoveTheLinkToo) {
    // A link left behind would point at a pts number the next terminal may get.
    for (const int sig : {SIGHUP, SIGINT}) {
        const std::string link = ::testing::TempDir() + "kvt40-sim-link-" + std::to_string(sig);
        e2e::SimProcess sim({"--link", link});
        ASSERT_FALSE(sim.Path().empty());
        struct stat st{};
        ASSERT_EQ(lstat(link.c_str(), &st), 0);
        EXPECT_EQ(sim.Terminate(sig), 0) << sig;
        EXPECT_NE(lstat(link.c_str(), &st), 0) << sig;
    }
}

TEST(CliE2E, ModulesAnswerAtTheRateGiven) {
    e2e::SimProcess sim({"--baud", "19200", "--address", "3"});
    ASSERT_FALSE(sim.Path().empty());
    const auto fast = e2e::Run({KVT40CTL_EXE, "--port", sim.Path(), "--address", "3", "--baud", "19200", "probe"});
    EXPECT_EQ(fast.code, 0);
    EXPECT_NE(fast.out.find(" 19200bps "), std::string::npos) << fast.out;
    EXPECT_NE(e2e::Run({KVT40CTL_EXE, "--port", sim.Path(), "--address", "3", "probe"}).code, 0);
    EXPECT_EQ(sim.Terminate(), 0);
}

TEST(CliE2E, UsageErrorsExitTwoWithOneLine) {
    for (const auto& args : std::vector<std::vector<std::string>>{
             {KVT40_SIM_EXE, "--address", "0"},
             {KVT40_SIM_EXE, "--address", "12x"},
             {KVT40_SIM_EXE, "--address", "4", "--address", "4"},
             {KVT40_SIM_EXE, "--link"},
             {KVT40_SIM_EXE, "--baud", "2400"},
             {KVT40_SIM_EXE, "--baud", "9600bd"},
             {KVT40_SIM_EXE, "--baud"},
             {KVT40_SIM_EXE, "--rate", "9600"}}) {
        const auto r = e2e::Run(args, true);
        EXPECT_EQ(r.code, 2) << args[1];
        EXPECT_EQ(r.out.rfind("kvt40-sim: ", 0), 0u) << r.out;
        EXPECT_EQ(r.out.find('\n'), r.out.size() - 1) << r.out;
    }
}

TEST(CliE2E, ATraceReaderThatLeavesDoesNotStopTheBus) {
    // kvt40-sim --trace | head -1: the reader takes the path line and is gone.
    int out = -1;
    const pid_t pid = e2e::Spawn({KVT40_SIM_EXE, "--trace", "--address", "1", "--address", "2"}, out);
    ASSERT_GT(pid, 0);
    const std::string line = e2e::ReadUntil(out, 5000, [](const std::string& s) { return s.find('\n') != std::string::npos; });
    ::close(out);
    const std::string path = line.substr(0, line.find('\n'));
    ASSERT_EQ(path.rfind("/dev/", 0), 0u) << line;
    // The handshake puts module 1 into its bootloader, which traces that into the closed pipe.
    const int pty = ::open(path.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(pty, 0);
    termios raw{};
    ASSERT_EQ(tcgetattr(pty, &raw), 0);
    cfmakeraw(&raw);
    ASSERT_EQ(tcsetattr(pty, TCSANOW, &raw), 0);
    ASSERT_EQ(::write(pty, "ID0001TOKENKEY7305", 18), 18);
    const auto banner = e2e::ReadUntil(pty, 5000, [](const std::string& s) { return s.size() >= 78; });
    EXPECT_GE(banner.size(), 78u);
    ::close(pty);
    // The bus still serves the other module.
    const auto read = e2e::Run({KVT40CTL_EXE, "--port", path, "--address", "2", "read", "0", "1"});
    EXPECT_EQ(read.code, 0) << read.out;
    kill(pid, SIGTERM);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
