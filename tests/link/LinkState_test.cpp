#include "link/LinkState.h"

#include <gtest/gtest.h>

#include <thread>

#include "link/Clock.h"
#include "link/SerialPort.h"
#include "link/UpdateLog.h"
#include "run/RunState.h"

namespace {

// Each run owns its link, protocol and port: two runs share none of them.
TEST(LinkState, StartValuesAndTheRunsOwnProtocolAndPort) {
    RunState run;
    RunState other;
    const LinkState& s = run.link;
    EXPECT_EQ(s.deviceAddress, 1);
    EXPECT_EQ(s.baudIndex, 1);
    EXPECT_EQ(s.dataBits, 8);
    EXPECT_EQ(s.parityIndex, 0);
    EXPECT_EQ(s.stopBitsIndex, 0);
    EXPECT_EQ(s.protocol, &run.protocol);
    EXPECT_EQ(s.port, static_cast<CCommPort*>(&run.port));
    EXPECT_FALSE(s.port->IsOpen());
    EXPECT_NE(other.link.port, s.port);
    EXPECT_EQ(run.statusPollPhase, 1);  // the first tick of the io view is phase 0
    EXPECT_EQ(run.updateLog.Text(), "");
}

TEST(LinkState, BaudIndexTable) {
    EXPECT_EQ(BaudRateOf(0), 4800);
    EXPECT_EQ(BaudRateOf(1), 9600);
    EXPECT_EQ(BaudRateOf(2), 19200);
    EXPECT_EQ(BaudIndexOf(19200), 2);
    EXPECT_EQ(BaudIndexOf(115200), -1);
}

TEST(VirtualClockTest, SleepOnlyMovesTimeForward) {
    VirtualClock c;
    c.sleep(200000);  // a 200 s time-out costs nothing
    EXPECT_EQ(c.nowMs(), 200000);
    c.advance(std::chrono::microseconds(1500));
    EXPECT_EQ(c.now().count(), 200001500);
}

TEST(UpdateLogTest, AppendsBlocksWithLineEndsAndIsSafeAcrossThreads) {
    UpdateLog log;
    EXPECT_EQ(log.Text(), "");
    log.Append("Boot V1.2");
    log.Append("");
    EXPECT_EQ(log.Text(), "Boot V1.2\r\n\r\n");
    std::thread writer([&] {
        for (int i = 0; i < 200; ++i) log.Append("C");
    });
    std::size_t last = 0;
    for (int i = 0; i < 200; ++i) {
        const std::size_t now = log.Text().size();
        EXPECT_GE(now, last);  // never cleared, only grows
        last = now;
    }
    writer.join();
    EXPECT_EQ(log.Text().size(), 13u + 200u * 3u);
}

}  // namespace
