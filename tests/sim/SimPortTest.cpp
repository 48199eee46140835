#include <gtest/gtest.h>

#include "SimHarness.h"

TEST(SimPort, LineBlockReadsLiveVoltages) {
    SimHarness h;
    auto regs = h.Regs(1, 0, 10);
    ASSERT_EQ(regs.size(), 10u);
    for (int p = 0; p < 3; ++p) EXPECT_NEAR(regs[static_cast<std::size_t>(p)], 22000, 30);
    EXPECT_NEAR(regs[9], 5000, 3);
}

TEST(SimPortTiming, ReplyIsReadableOnlyAfterTurnaroundAndWireTime) {
    SimHarness h;
    std::uint8_t req[8];
    TheModbusRtu().BuildReadRegisters(req, 1, 0, 10);
    ASSERT_EQ(h.port.Write(req), 8);
    // 8 + 25 bytes at 9600 bd, 10 bits a byte, plus 5 ms turnaround: about 39.375 ms.
    const Clock::Micros due = h.port.ReplyReadyAt() - h.clock.now();
    EXPECT_NEAR(static_cast<double>(due.count()), 39375.0, 2.0);
    std::vector<std::uint8_t> rx(300);
    h.clock.advance(due - Clock::Micros(1));
    EXPECT_EQ(h.port.Read(rx), 0);
    h.clock.advance(Clock::Micros(1));
    EXPECT_EQ(h.port.Read(rx), 25);
    EXPECT_EQ(h.port.Read(rx), 0);  // taken once
}

TEST(SimPortTiming, FasterLineAndLongerTurnaroundMoveTheDueTime) {
    SimHarness h;
    h.bus.SetRegister(1, 501, 2);
    h.bus.WithModule(1, [](VirtualModule& m) { m.SetTurnaroundMs(20); });
    h.port.Open(19200);
    std::uint8_t req[8];
    TheModbusRtu().BuildReadRegisters(req, 1, 0, 10);
    const Clock::Micros start = h.clock.now();
    h.port.Write(req);
    EXPECT_NEAR(static_cast<double>((h.port.ReplyReadyAt() - start).count()), 20000.0 + 33 * 10 * 1e6 / 19200, 2.0);
}

TEST(SimPortTiming, ReadTakesWhatFitsAndTheRestLater) {
    SimHarness h;
    std::uint8_t req[8];
    TheModbusRtu().BuildReadRegisters(req, 1, 0, 10);
    h.port.Write(req);
    h.clock.sleep(100);
    std::vector<std::uint8_t> rx(10, 0xEE);
    EXPECT_EQ(h.port.Read(rx), 10);
    EXPECT_EQ(rx[0], 1);
    EXPECT_EQ(h.port.Read(rx), 10);
    std::fill(rx.begin(), rx.end(), std::uint8_t{0xEE});
    EXPECT_EQ(h.port.Read(rx), 5);
    EXPECT_EQ(rx[5], 0);  // zero-filled beyond what arrived
}

TEST(SimPortTiming, WritePurgesAnUnreadReply) {
    SimHarness h;
    std::uint8_t req[8];
    TheModbusRtu().BuildReadRegisters(req, 1, 0, 10);
    h.port.Write(req);
    h.clock.sleep(200);
    // The next tick's request to an absent module: the old reply is gone, nothing comes.
    TheModbusRtu().BuildReadRegisters(req, 9, 0, 10);
    h.port.Write(req);
    h.clock.sleep(200);
    std::vector<std::uint8_t> rx(300);
    EXPECT_EQ(h.port.Read(rx), 0);
    EXPECT_EQ(h.port.Sent().size(), 2u);
}

TEST(SimPortTiming, ClosedPortNeitherSendsNorReceives) {
    SimHarness h;
    h.port.Close();
    std::uint8_t req[8];
    TheModbusRtu().BuildReadRegisters(req, 1, 0, 10);
    EXPECT_EQ(h.port.Write(req), 0);
    std::vector<std::uint8_t> rx(300);
    EXPECT_EQ(h.port.Read(rx), 0);
    EXPECT_FALSE(h.port.Open(0));
}
