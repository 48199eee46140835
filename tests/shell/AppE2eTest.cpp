// Starts the real kvt40 offscreen, connects through the dialog's code path to a virtual
// module served on a pseudo-terminal, and reads a voltage out of the measurement grid.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/wait.h>

#include "link/Clock.h"
#include "sim/PtyBusServer.h"
#include "sim/VirtualBus.h"

namespace {
struct AppRun {
    int status = -1;
    std::string out;
};

AppRun RunApp(const std::string& args) {
    const std::string cmd = std::string("QT_QPA_PLATFORM=offscreen timeout 30 ") + KVT40_APP_PATH + " " + args +
                            " 2>/dev/null";
    AppRun r;
    FILE* p = popen(cmd.c_str(), "r");
    if (p == nullptr) return r;
    char buf[256];
    while (std::fgets(buf, sizeof buf, p) != nullptr) r.out += buf;
    r.status = pclose(p);
    return r;
}
}  // namespace

TEST(AppE2e, ConnectsOverAPtyAndShowsTheLineVoltage) {
    RealClock clock;
    VirtualBus bus(clock);
    bus.AddModule(3);
    PtyBusServer server(bus);
    ASSERT_TRUE(server.Start());
    // The first tick (600 ms after the form opens) fills the voltage row.
    const AppRun r = RunApp("--connect " + server.SlavePath() + " --address 3 --print-cell-within-ms 10000 1 1");
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
    const AppRun r = RunApp("--connect " + server.SlavePath() + " --address 4 --print-cell-within-ms 100 1 1");
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
    EXPECT_NE(r.out.find("kvt40: cannot write the screenshot /nonexistent-dir/shot.png: "), std::string::npos) << r.out;
}

TEST(AppE2e, RefusesAnUnknownOption) {
    const AppRun r = RunApp("--no-such-option");
    EXPECT_EQ(WEXITSTATUS(r.status), 2);
}
