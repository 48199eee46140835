// kvt40ctl on the real serial port against the kvt40-sim program.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>

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
    EXPECT_NE(probe.out.find("[ Device ID : 1 ] " + sim.Path() + " 9600bps "), std::string::npos)
        << probe.out;

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
    struct stat st {};
    EXPECT_NE(lstat(link.c_str(), &st), 0);
}

TEST(CliE2E, HangUpAndInterruptRemoveTheLinkToo) {
    // A link left behind would point at a pts number the next terminal may get.
    for (const int sig : {SIGHUP, SIGINT}) {
        const std::string link = ::testing::TempDir() + "kvt40-sim-link-" + std::to_string(sig);
        e2e::SimProcess sim({"--link", link});
        ASSERT_FALSE(sim.Path().empty());
        struct stat st {};
        ASSERT_EQ(lstat(link.c_str(), &st), 0);
        EXPECT_EQ(sim.Terminate(sig), 0) << sig;
        EXPECT_NE(lstat(link.c_str(), &st), 0) << sig;
    }
}

TEST(CliE2E, ModulesAnswerAtTheRateGiven) {
    e2e::SimProcess sim({"--baud", "19200", "--address", "3"});
    ASSERT_FALSE(sim.Path().empty());
    const auto fast =
        e2e::Run({KVT40CTL_EXE, "--port", sim.Path(), "--address", "3", "--baud", "19200", "probe"});
    EXPECT_EQ(fast.code, 0);
    EXPECT_NE(fast.out.find(" 19200bps "), std::string::npos) << fast.out;
    EXPECT_NE(e2e::Run({KVT40CTL_EXE, "--port", sim.Path(), "--address", "3", "probe"}).code, 0);
    EXPECT_EQ(sim.Terminate(), 0);
}

TEST(CliE2E, UsageErrorsExitTwoWithOneLine) {
    for (const auto& args :
         std::vector<std::vector<std::string>>{{KVT40_SIM_EXE, "--address", "0"},
                                               {KVT40_SIM_EXE, "--address", "12x"},
                                               {KVT40_SIM_EXE, "--address", "4", "--address", "4"},
                                               {KVT40_SIM_EXE, "--link"},
                                               {KVT40_SIM_EXE, "--baud", "2400"},
                                               {KVT40_SIM_EXE, "--baud", "9600bd"},
                                               {KVT40_SIM_EXE, "--baud"},
                                               {KVT40_SIM_EXE, "--rate", "9600"},
                                               {KVT40_SIM_EXE, "--reply-delay", "50ms"},
                                               {KVT40_SIM_EXE, "--reply-delay", "-1"}}) {
        const auto r = e2e::Run(args, true);
        EXPECT_EQ(r.code, 2) << args[1];
        EXPECT_EQ(r.out.rfind("kvt40-sim: ", 0), 0u) << r.out;
        EXPECT_EQ(r.out.find('\n'), r.out.size() - 1) << r.out;
    }
}

TEST(CliE2E, SimHelpListsEveryOptionAndAUsageErrorSaysWhichArgument) {
    const auto help = e2e::Run({KVT40_SIM_EXE, "--help"});
    EXPECT_EQ(help.code, 0);
    EXPECT_EQ(help.out.rfind("usage: kvt40-sim [--address N]... [--baud 4800|9600|19200]", 0), 0u)
        << help.out;
    for (const char* row :
         {"\n  --address N           ", "\n  --fault ADDRESS:FAULT ", "\n  --reply-delay MS      ",
          "\n  --pf STEP             ", "\n  vanish:N[:SECONDS] "})
        EXPECT_NE(help.out.find(row), std::string::npos) << row;
    // A repeatable option takes one value each time: a second one is not another module.
    const auto extra = e2e::Run({KVT40_SIM_EXE, "--address", "1", "2"}, true);
    EXPECT_EQ(extra.code, 2);
    EXPECT_EQ(extra.out, "kvt40-sim: unexpected argument '2' (try --help)\n");
}

namespace {

// The harmonics output without its noise: the THD values and the orders up to 7 move with
// time, the higher orders are the module's fixed spectrum.
std::string FixedPartOfHarmonics(const std::string& out) {
    std::istringstream in(out);
    std::string kept;
    int row = 0;
    for (std::string line; std::getline(in, line); ++row) {
        std::vector<std::string> cells;
        std::istringstream split(line);
        for (std::string cell; std::getline(split, cell, '\t');) cells.push_back(cell);
        const std::size_t moving = row < 2 ? 0 : row < 4 ? 4 : 7;  // THD values; chart orders 2..7
        for (std::size_t k = 0; k < cells.size(); ++k) kept += (k > 0 && k < moving ? "~" : cells[k]) + "\t";
        kept += "\n";
    }
    return kept;
}

}  // namespace

// A module that answers 50 ms late: each command reads every reply it asked for before it
// asks again or ends, so every page and the next command on the bus get their own replies.
TEST(CliE2E, CommandsInARowAgainstALateModuleEachReadTheirOwnReplies) {
    const auto ctl = [](const std::string& port, std::vector<std::string> args) {
        args.insert(args.begin(), {KVT40CTL_EXE, "--port", port});
        return e2e::Run(args, false, 20000);
    };
    std::string comm, info, harmonics;
    {
        e2e::SimProcess prompt({});
        ASSERT_FALSE(prompt.Path().empty());
        comm = ctl(prompt.Path(), {"comm"}).out;
        info = ctl(prompt.Path(), {"info"}).out;
        harmonics = FixedPartOfHarmonics(ctl(prompt.Path(), {"harmonics"}).out);
        ASSERT_EQ(std::count(harmonics.begin(), harmonics.end(), '\n'), 10) << harmonics;
        ASSERT_NE(comm, "");
        ASSERT_NE(info, "");
    }
    e2e::SimProcess late({"--reply-delay", "50"});
    ASSERT_FALSE(late.Path().empty());
    for (int run = 0; run < 2; ++run) {
        const auto h = ctl(late.Path(), {"harmonics"});
        EXPECT_EQ(h.code, 0) << run;
        EXPECT_EQ(FixedPartOfHarmonics(h.out), harmonics) << run;
        EXPECT_EQ(ctl(late.Path(), {"info"}).out, info) << run;
        EXPECT_EQ(ctl(late.Path(), {"demand"}).code, 0) << run;
        EXPECT_EQ(ctl(late.Path(), {"comm"}).out, comm) << run;
        EXPECT_EQ(ctl(late.Path(), {"alarms"}).code, 0) << run;
        EXPECT_EQ(ctl(late.Path(), {"comm"}).out, comm) << run;
    }
    EXPECT_EQ(late.Terminate(), 0);
}

TEST(CliE2E, ATraceReaderThatLeavesDoesNotStopTheBus) {
    // kvt40-sim --trace | head -1: the reader takes the path line and is gone.
    int out = -1;
    const pid_t pid = e2e::Spawn({KVT40_SIM_EXE, "--trace", "--address", "1", "--address", "2"}, out);
    ASSERT_GT(pid, 0);
    const std::string line =
        e2e::ReadUntil(out, 5000, [](const std::string& s) { return s.find('\n') != std::string::npos; });
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
    out += e2e::ReadUntil(fd, 5000, [](const std::string& s) {
        return s.find("s\n", s.find(" port lost (")) != std::string::npos;
    });
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
    std::string out =
        e2e::ReadUntil(fd, 10000, [](const std::string& s) { return s.find("1\n") != std::string::npos; });
    ASSERT_EQ(out, "1\n");
    EXPECT_EQ(sim.Terminate(), 0);
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(e2e::Reap(pid, fd, 10000, &out), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(3));
    EXPECT_EQ(out, "1\nkvt40ctl: Port lost: Input/output error\n");
}
