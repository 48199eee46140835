// kvt40ctl on the real serial port against the kvt40-sim program.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <memory>
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

namespace {
// Whether `s` holds, after `from`, a whole CSV line of the watch.
bool CsvLineAfter(const std::string& s, std::size_t from) {
    for (std::size_t nl = s.find('\n', from); nl != std::string::npos; nl = s.find('\n', from)) {
        const std::string line = s.substr(from, nl - from);
        if (std::count(line.begin(), line.end(), ',') == 184) return true;
        from = nl + 1;
    }
    return false;
}
}  // namespace

// The server in front of the module dies and a new one takes its name: the watch says the port
// was lost, opens the same name again every second, says it is back and goes on logging.
TEST(CliE2E, MeasureWatchOutlivesAModuleServerThatDiesAndComesBack) {
    const std::string link = ::testing::TempDir() + "kvt40-sim-lost";
    auto sim = std::make_unique<e2e::SimProcess>(std::vector<std::string>{"--link", link});
    ASSERT_FALSE(sim->Path().empty());
    int fd = -1;
    const pid_t pid = e2e::Spawn({KVT40CTL_EXE, "--port", link, "measure", "--watch"}, fd, true);
    ASSERT_GT(pid, 0);
    std::string out = e2e::ReadUntil(fd, 15000, [](const std::string& s) { return CsvLineAfter(s, 0); });
    ASSERT_TRUE(CsvLineAfter(out, 0)) << out;

    EXPECT_EQ(sim->Terminate(), 0);
    out += e2e::ReadUntil(fd, 5000, [](const std::string& s) { return s.find("s\n", s.find(" port lost (")) != std::string::npos; });
    const std::size_t lost = out.find(" port lost (Input/output error); reopening every 1 s\n");
    ASSERT_NE(lost, std::string::npos) << out;

    sim = std::make_unique<e2e::SimProcess>(std::vector<std::string>{"--link", link});
    ASSERT_FALSE(sim->Path().empty());
    out += e2e::ReadUntil(fd, 20000, [lost](const std::string& s) {
        const std::size_t back = s.find(" port back\n", lost);
        return back != std::string::npos && CsvLineAfter(s, back);
    });
    const std::size_t back = out.find(" port back\n", lost);
    ASSERT_NE(back, std::string::npos) << out;
    EXPECT_NE(out.find(" cycle restarted\n", back), std::string::npos) << out;
    EXPECT_TRUE(CsvLineAfter(out, back)) << out;
    kill(pid, SIGINT);
    (void)e2e::Reap(pid, fd, 5000);
}

// A scan whose port vanishes ends at once with exit 1 and the reason, not 0 with half a list.
TEST(CliE2E, AScanWhosePortVanishesFailsAndSaysWhy) {
    e2e::SimProcess sim({"--address", "1"});
    ASSERT_FALSE(sim.Path().empty());
    int fd = -1;
    const pid_t pid = e2e::Spawn({KVT40CTL_EXE, "--port", sim.Path(), "scan"}, fd, true);
    ASSERT_GT(pid, 0);
    std::string out = e2e::ReadUntil(fd, 10000, [](const std::string& s) { return s.find("1\n") != std::string::npos; });
    ASSERT_EQ(out, "1\n");
    EXPECT_EQ(sim.Terminate(), 0);
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(e2e::Reap(pid, fd, 10000, &out), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(3));
    EXPECT_EQ(out, "1\nkvt40ctl: Port lost: Input/output error\n");
}
