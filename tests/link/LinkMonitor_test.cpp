// The frame monitor as the sessions feed it: the lines of each kind of exchange, the counts
// per address, the bounded ring, and a reader on another thread.
#include "link/LinkMonitor.h"

#include <gtest/gtest.h>

#include <array>
#include <thread>

#include "link/ModbusSession.h"
#include "support/ScriptedPort.h"

namespace {

class LinkMonitorTest : public ::testing::Test {
protected:
    LinkMonitorTest() : port(clock) {
        port.Open();
        link.protocol = &rtu;
        link.port = &port;
        link.deviceAddress = 7;
        link.monitor = &monitor;
    }
    std::vector<std::string> Lines() {
        std::vector<std::string> out;
        for (const FrameRecord& f : monitor.FramesAfter(0)) out.push_back(FrameLine(f));
        return out;
    }
    VirtualClock clock;
    ScriptedPort port;
    CModbusRtu rtu;
    LinkMonitor monitor;
    LinkState link;
    ModbusSession s{link, clock};
};

TEST_F(LinkMonitorTest, EveryKindOfExchangeGetsItsLineAndItsCount) {
    port.replies.push_back(RegistersReply(7, 2, 100));
    ASSERT_TRUE(s.ReadRegisters(504, 2, 300));
    EXPECT_FALSE(s.ReadRegisters(0, 10, 200));  // nothing comes
    Frame bad = RegistersReply(7, 1);
    bad.back() ^= 1;
    port.replies.push_back(bad);
    EXPECT_FALSE(s.ReadRegisters(0, 1, 200));
    port.replies.push_back(RegistersReply(7, 1));
    EXPECT_FALSE(s.ReadRegisters(0, 2, 200));  // one value of two
    const std::array<std::int32_t, 1> v{264};
    port.replies.push_back(Hex("07 90 04 AD C2"));
    EXPECT_FALSE(s.WriteRegistersConfirmed(0x2328, v, 300));
    ASSERT_TRUE(s.WriteCoil(1, true, 200));  // its echo is never read
    // The bootloader's traffic shows, but is no request and its silence no missing reply.
    EXPECT_EQ(s.Send(Frame{'I', 'D'}), 2);
    EXPECT_TRUE(s.ReadAvailable(4).empty());
    port.replies.push_back({'C'});
    EXPECT_EQ(s.ReadAvailable(4), Frame{'C'});

    const std::vector<std::string> want{
        "     0.000 TX    7 03 start=504,count=2            8 ok         -  07 03 01 F8 00 02 44 60",
        "   300.000 RX    7 03 bytes=4                      9 ok     300.0  07 03 04 00 64 00 65 1D C7",
        "   300.000 TX    7 03 start=0,count=10             8 ok         -  07 03 00 00 00 0A C5 AB",
        "   500.000 --    7 -- no-reply                     0 -      200.0",
        "   500.000 TX    7 03 start=0,count=1              8 ok         -  07 03 00 00 00 01 84 6C",
        "   700.000 RX    7 03 bad-crc                      7 bad    200.0  07 03 02 00 00 30 45",
        "   700.000 TX    7 03 start=0,count=2              8 ok         -  07 03 00 00 00 02 C4 6D",
        "   900.000 RX    7 03 short-reply                  7 ok     200.0  07 03 02 00 00 30 44",
        "   900.000 TX    7 10 start=9000,count=1          11 ok         -  07 10 23 28 00 01 02 01 08 99 4C",
        "  1200.000 RX    7 90 exception=4                  5 ok     300.0  07 90 04 AD C2",
        "  1200.000 TX    7 05 coil=1,on                    8 ok         -  07 05 00 01 FF 00 DD 9C",
        "  1400.000 TX    7 -- raw                          2 -          -  49 44",
        "  1400.000 RX    7 -- raw                          1 -        0.0  43",
    };
    EXPECT_EQ(Lines(), want);

    const LinkStatistics stats = monitor.Statistics();
    ASSERT_EQ(stats.size(), 1u);
    const AddressStats& a = stats.at(7);
    EXPECT_EQ(a.requests, 6u);
    EXPECT_EQ(a.replies, 2u);  // the good read and the refusal
    EXPECT_EQ(a.noReplies, 1u);
    EXPECT_EQ(a.badCrc, 1u);
    EXPECT_EQ(a.wrongLength, 1u);
    EXPECT_EQ(a.exceptions, 1u);
    EXPECT_DOUBLE_EQ(a.latencyMaxMs, 300.0);
    EXPECT_EQ(
        StatisticsTable(stats),
        "addr  requests   replies  no_reply bad_crc wrong_length exceptions  port_lost   mean_ms    max_ms\n"
        "   7         6         2         1       1            1          1          0     250.0     "
        "300.0\n");
    EXPECT_EQ(StatisticsSummary(stats), "Link: 6 requests, 2 replies, 1 no replies, 1 bad CRC, mean 250 ms");
    EXPECT_EQ(StatisticsSummary({}), "");
    EXPECT_EQ(StatisticsTable({}), "no exchanges\n");
}

TEST_F(LinkMonitorTest, TheRingKeepsTheLastFramesAndTheHeadOfLongOnes) {
    const Frame block(1029, 0x5A);  // a firmware block
    EXPECT_EQ(s.Send(block), 1029);
    const FrameColumns c = FrameColumnsOf(monitor.FramesAfter(0).at(0));
    EXPECT_EQ(c.bytes, "1029");
    EXPECT_EQ(c.hex.size(), 3 * LinkMonitor::kKeptBytes - 1 + 4);
    EXPECT_TRUE(c.hex.ends_with("5A 5A ..."));

    for (std::size_t i = 0; i < LinkMonitor::kFrames + 10; ++i) s.WriteCoil(1, i % 2 == 0, 0);
    const std::vector<FrameRecord> kept = monitor.FramesAfter(0);
    ASSERT_EQ(kept.size(), LinkMonitor::kFrames);
    EXPECT_EQ(kept.front().seq, 12u);
    EXPECT_EQ(monitor.FramesAfter(monitor.LastSeq() - 2).size(), 2u);

    // Every exchange tried on a port already lost meets the same loss.
    monitor.PortLost(7, clock.now(), "Input/output error");
    monitor.PortLost(7, clock.now(), "Input/output error");
    EXPECT_EQ(monitor.Statistics().at(7).portLosses, 1u);
    EXPECT_EQ(FrameLine(monitor.FramesAfter(0).back()).substr(10),
              " --    7 -- port-lost                    0 -          -  Input/output error");

    monitor.Clear();
    EXPECT_TRUE(monitor.FramesAfter(0).empty());
    EXPECT_TRUE(monitor.Statistics().empty());
}

// An update worker notes frames while the window reads them.
TEST(LinkMonitorThreads, AReaderOnAnotherThreadSeesWholeFrames) {
    LinkMonitor monitor;
    VirtualClock clock;
    std::thread worker([&] {
        const Frame request = WithCrc({0x01, 0x03, 0x00, 0x00, 0x00, 0x01});
        for (int i = 0; i < 5000; ++i) {
            monitor.Sent(1, request, clock.now(), false);
            monitor.Received(1, RegistersReply(1, 1), clock.now(), false, ExchangeFailure::None);
        }
    });
    std::uint64_t seen = 0;
    while (seen < 10000) {
        std::vector<FrameRecord> frames = monitor.FramesAfter(seen);
        // A reader that falls a ring behind goes on from the oldest frame kept.
        if (!frames.empty() && frames.front().seq > seen + 1) seen = frames.front().seq - 1;
        for (const FrameRecord& f : frames) {
            ASSERT_EQ(f.seq, seen + 1);  // nothing skipped or doubled
            ASSERT_EQ(f.bytes.size(), f.kind == FrameKind::Sent ? 8u : 7u);
            seen = f.seq;
        }
        (void)monitor.Statistics();
    }
    worker.join();
    EXPECT_EQ(monitor.Statistics().at(1).replies, 5000u);
}

}  // namespace
