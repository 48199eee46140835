// Starts the real kvt40 offscreen, connects through the dialog's code path to a virtual
// module served on a pseudo-terminal, and reads a voltage out of the measurement grid.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "link/Clock.h"
#include "sim/PtyBusServer.h"
#include "sim/VirtualBus.h"

namespace {
struct AppRun {
    int status = -1;
    std::string out;
};

AppRun RunShell(const std::string& cmd) {
    AppRun r;
    FILE* p = popen(cmd.c_str(), "r");
    if (p == nullptr) return r;
    char buf[512];
    while (std::fgets(buf, sizeof buf, p) != nullptr) r.out += buf;
    r.status = pclose(p);
    return r;
}

AppRun RunApp(const std::string& args) {
    return RunShell(std::string("QT_QPA_PLATFORM=offscreen timeout 30 ") + KVT40_APP_PATH + " " + args +
                    " 2>/dev/null");
}

// kvt40 where no display is reachable.
std::string Headless(const std::string& args) {
    return std::string("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM timeout 30 ") + KVT40_APP_PATH +
           " " + args;
}
}  // namespace

TEST(AppE2e, ConnectsOverAPtyAndShowsTheLineVoltage) {
    RealClock clock;
    VirtualBus bus(clock);
    bus.AddModule(3);
    PtyBusServer server(bus);
    ASSERT_TRUE(server.Start());
    // The first tick (600 ms after the form opens) fills the voltage row.
    const AppRun r =
        RunApp("--connect " + server.SlavePath() + " --address 3 --print-cell-within-ms 10000 1 1");
    server.Stop();
    ASSERT_EQ(r.status, 0) << r.out;
    const double ua = std::strtod(r.out.c_str(), nullptr);
    EXPECT_NEAR(ua, 220.0, 15.0) << r.out;
    EXPECT_NE(r.out.find('.'), std::string::npos);
}

TEST(AppE2e, ReportsAModuleThatDoesNotAnswer) {
    RealClock clock;
    VirtualBus bus(clock);
    bus.AddModule(3);
    PtyBusServer server(bus);
    ASSERT_TRUE(server.Start());
    const AppRun r =
        RunApp("--connect " + server.SlavePath() + " --address 4 --print-cell-within-ms 100 1 1");
    server.Stop();
    EXPECT_NE(r.status, 0);
    EXPECT_EQ(r.out, "");
}

TEST(AppE2e, StartsOnTheBuiltInVirtualModule) {
    // --sim connects to the embedded module and opens the readings without a --form.
    const AppRun r = RunApp("--sim --print-cell-within-ms 10000 1 1");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NEAR(std::strtod(r.out.c_str(), nullptr), 220.0, 15.0) << r.out;
}

TEST(AppE2e, SaysWhyAScreenshotCannotBeWritten) {
    const std::string cmd = std::string("QT_QPA_PLATFORM=offscreen timeout 30 ") + KVT40_APP_PATH +
                            " --screenshot /nonexistent-dir/shot.png --after-ms 0 2>&1";
    AppRun r;
    FILE* p = popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    char buf[512];
    while (std::fgets(buf, sizeof buf, p) != nullptr) r.out += buf;
    r.status = pclose(p);
    EXPECT_EQ(WEXITSTATUS(r.status), 1);
    EXPECT_NE(r.out.find("kvt40: cannot write the screenshot /nonexistent-dir/shot.png: "), std::string::npos)
        << r.out;
}

TEST(AppE2e, RefusesAnUnknownOption) {
    // Known only once the toolkit has taken its own options off the line.
    const AppRun r = RunShell(std::string("timeout 30 ") + KVT40_APP_PATH +
                              " -platform offscreen --no-such-option 2>&1 >/dev/null");
    EXPECT_EQ(WEXITSTATUS(r.status), 2);
    EXPECT_NE(r.out.find("kvt40: unexpected argument '--no-such-option' (try --help)\n"), std::string::npos)
        << r.out;
}

TEST(AppE2e, HelpAndWrongValuesNeedNoDisplayAndTheToolkitsOptionsPassThrough) {
    const AppRun help = RunShell(Headless("--help 2>&1"));
    EXPECT_EQ(WEXITSTATUS(help.status), 0);
    EXPECT_EQ(help.out.rfind("usage: kvt40 [--internal] [--sim] [--connect PORT [--address N]", 0), 0u)
        << help.out;
    EXPECT_NE(help.out.find("\n  --connect PORT        connect to PORT at start"), std::string::npos)
        << help.out;
    const AppRun bad = RunShell(Headless("--connect /dev/ttyUSB0 --baud 2400 2>&1 >/dev/null"));
    EXPECT_EQ(WEXITSTATUS(bad.status), 2);
    EXPECT_EQ(bad.out, "kvt40: --baud must be 4800, 9600 or 19200, not '2400'\n");
    const AppRun shown = RunShell(Headless("-platform offscreen --quit-when-shown 2>/dev/null"));
    EXPECT_EQ(WEXITSTATUS(shown.status), 0);
    EXPECT_EQ(shown.out, "shown\n");
}

TEST(AppE2e, AScriptedStepThatCannotBeDoneEndsTheRunAndSaysWhich) {
    const AppRun bad = RunShell(Headless("--step jump:3 2>&1 >/dev/null"));
    EXPECT_EQ(WEXITSTATUS(bad.status), 2);
    EXPECT_EQ(bad.out,
              "kvt40: --step must be wait:MS, click:ID, edit:ID=TEXT, file:PATH, form:ID or menu:ID, not "
              "'jump:3'\n");
    const AppRun missing =
        RunShell(std::string("QT_QPA_PLATFORM=offscreen timeout 30 ") + KVT40_APP_PATH +
                 " --internal --form 174 --step edit:1076=1 --step wait:10 --step click:4242"
                 " --screenshot /dev/null --after-ms 20000 2>&1 >/dev/null");
    EXPECT_EQ(WEXITSTATUS(missing.status), 2);
    EXPECT_NE(missing.out.find("kvt40: the form shown has no enabled button 4242\n"), std::string::npos)
        << missing.out;
}
