// The bus scan: one address per tick, found by register 500 answering its own address, its
// range rules, its period and the timer it runs on.
#include <gtest/gtest.h>

#include "support/ScriptedPort.h"
#include "update/BusScan.h"
#include "update/UpdateFixture.h"

TEST(BusScanPeriod, ByTheLinkRate) {
    EXPECT_EQ(BusScan::PeriodMsFor(2400), 380);
    EXPECT_EQ(BusScan::PeriodMsFor(4800), 350);
    EXPECT_EQ(BusScan::PeriodMsFor(9600), 300);
    EXPECT_EQ(BusScan::PeriodMsFor(19200), 250);
    EXPECT_EQ(BusScan::PeriodMsFor(1200), 200);
}

TEST(BusScanRange, AddressesOutside1To247AreRefusedAndNothingIsSent) {
    BusRig<VirtualClock> rig({1});
    BusScan scan(rig.link, rig.clock);
    for (auto [from, to] : {std::pair{0, 10}, {1, 248}, {-3, 5}, {248, 5}, {5, 0}})
        EXPECT_EQ(scan.Start(from, to), BusScan::StartResult::OutOfRange) << from << "-" << to;
    EXPECT_TRUE(rig.port.Sent().empty());
    rig.port.Close();
    EXPECT_EQ(scan.Start(1, 247), BusScan::StartResult::NotConnected);
}

TEST(BusScanRun, AWholeBusIsPolledOnceEachAndEndsAt247QueriedAnd100Percent) {
    BusRig<VirtualClock> rig({5, 100, 247}, 19200);
    BusScan scan(rig.link, rig.clock);
    ASSERT_EQ(scan.Start(1, 247), BusScan::StartResult::Started);
    EXPECT_EQ(scan.PeriodMs(), 250);
    EXPECT_EQ(rig.clock.nowMs(), 200);
    std::vector<int> percents;
    int ticks = 0;
    const auto timerStart = rig.clock.nowMs();
    EXPECT_TRUE(scan.RunToEnd({}, [&](const BusScan::TickResult& t) {
        ++ticks;
        percents.push_back(scan.Percent());
        EXPECT_EQ(t.valid, t.found);  // only modules answer, each with its own address
    }));
    EXPECT_EQ(ticks, 247);
    EXPECT_EQ(scan.Queried(), 247);
    EXPECT_EQ(percents.back(), 100);
    EXPECT_EQ(percents.front(), 0);  // 1 * 100 / 247
    EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
    EXPECT_EQ(scan.Found(), (std::vector<int>{5, 100, 247}));
    EXPECT_FALSE(scan.Running());

    // Every address asked once for register 500, in order.
    const auto sent = rig.port.Sent();
    ASSERT_EQ(sent.size(), 247u);
    for (int a = 1; a <= 247; ++a)
        EXPECT_EQ(sent[static_cast<std::size_t>(a - 1)],
                  WithCrc({static_cast<std::uint8_t>(a), 0x03, 0x01, 0xF4, 0x00, 0x01}));
    // The first tick one period after the timer started, then every tick waits 200 + 200 ms
    // (the last one 200), longer than the period, so they follow back to back.
    EXPECT_EQ(rig.clock.nowMs() - timerStart, 250 + 246 * 400 + 200);
}

TEST(BusScanRun, StartEqualToEndOrAboveItPollsTheStartAloneAndEndsAtTheFirstTick) {
    BusRig<VirtualClock> rig({9});
    BusScan scan(rig.link, rig.clock);
    for (auto [from, to] : {std::pair{9, 9}, {9, 3}}) {
        ASSERT_EQ(scan.Start(from, to), BusScan::StartResult::Started);
        const auto t = scan.OnTick();
        EXPECT_TRUE(t.found);
        EXPECT_TRUE(t.finished);
        EXPECT_EQ(scan.Queried(), 1);
        EXPECT_EQ(scan.Percent(), 100);  // a range of one, not a division by zero
        EXPECT_EQ(scan.Found(), std::vector<int>{9});
    }
    EXPECT_EQ(rig.port.Sent().size(), 2u);
}

TEST(BusScanRun, AReplyWithAnotherAddressInRegister500OrABadFrameIsNoModule) {
    VirtualClock clock;
    ScriptedPort port(clock);
    port.Open();
    CModbusRtu rtu;
    LinkState link{1, 1, 8, 0, 0, &rtu, &port};
    BusScan scan(link, clock);
    ASSERT_EQ(scan.Start(3, 6), BusScan::StartResult::Started);
    Frame noRegister = WithCrc({4, 0x03, 0x00});
    port.replies = {RegistersReply(3, 1, 9), RegistersReply(4, 1, 4), noRegister, ExceptionFrame(6, 3, 2)};
    port.replies[1].back() ^= 0x01;  // bad CRC
    std::vector<BusScan::TickResult> ticks;
    while (scan.Running()) ticks.push_back(scan.OnTick());
    ASSERT_EQ(ticks.size(), 4u);
    EXPECT_TRUE(ticks[0].valid);
    EXPECT_FALSE(ticks[0].found);
    EXPECT_FALSE(ticks[1].valid);
    EXPECT_TRUE(ticks[2].valid);
    EXPECT_FALSE(ticks[2].found);
    EXPECT_FALSE(ticks[3].valid);
    EXPECT_TRUE(scan.Found().empty());
    EXPECT_EQ(scan.Queried(), 4);
}

TEST(BusScanRun, StoppedByTheUserSendsNoFurtherRequest) {
    BusRig<VirtualClock> rig({1});
    BusScan scan(rig.link, rig.clock);
    ASSERT_EQ(scan.Start(1, 247), BusScan::StartResult::Started);
    int asked = 0;
    EXPECT_FALSE(scan.RunToEnd([&] { return ++asked <= 3; }, {}));
    EXPECT_EQ(scan.Queried(), 3);
    EXPECT_EQ(rig.port.Sent().size(), 4u);
    EXPECT_FALSE(scan.OnTick().valid);
}
