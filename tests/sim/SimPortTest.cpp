#include <gtest/gtest.h>

#include "SimHarness.h"

TEST(SimPort, LineBlockReadsLiveVoltages) {
    SimHarness h;
    auto regs = h.Regs(1, 0, 10);
    ASSERT_EQ(regs.size(), 10u);
    for (int p = 0; p < 3; ++p) EXPECT_NEAR(regs[static_cast<std::size_t>(p)], 22000, 30);
    EXPECT_NEAR(regs[9], 5000, 3);
}

namespace {

std::vector<std::uint8_t> ReadFrame(int addr, int start, int count) {
    std::vector<std::uint8_t> req(8);
    CModbusRtu().BuildReadRegisters(req, addr, start, count);
    return req;
}

constexpr Clock::Micros kThreeChars{6000};  // 3c at 9600 bd: c = 10000 / 9600 + 1 = 2 ms

}  // namespace

// Byte i of a reply is due at request end + turnaround + (i + 1) byte times; a Read that finds
// a byte collects the rest as it arrives and, ending short, waits out 3c after the last one.
TEST(SimPortReadRules, BytesArriveOneByOneAndAReadCollectsThoseStillComing) {
    SimHarness h;
    ASSERT_EQ(h.port.Write(ReadFrame(1, 0, 10)), 8);
    // 8 request bytes (8333 us) + 5 ms turnaround + 1 byte (1041 us); the 25th 24 bytes later.
    EXPECT_EQ(h.port.ByteDueAt(0), Clock::Micros(14374));
    EXPECT_EQ(h.port.ByteDueAt(24), Clock::Micros(39374));
    EXPECT_EQ(h.port.ByteDueAt(25), Clock::Micros(0));

    std::vector<std::uint8_t> rx(300, 0xEE);
    h.clock.advance(h.port.ByteDueAt(0) - Clock::Micros(1));
    const Clock::Micros before = h.clock.now();
    EXPECT_EQ(h.port.Read(rx), 0);
    EXPECT_EQ(h.clock.now(), before);  // never waits for a first byte
    EXPECT_EQ(rx[0], 0);               // zero-filled all the same

    h.clock.advance(Clock::Micros(1));
    ASSERT_EQ(h.port.Read(rx), 25);
    EXPECT_EQ(h.clock.now(), Clock::Micros(39374) + kThreeChars);
    rx.resize(25);
    std::vector<std::int32_t> regs(16);
    EXPECT_TRUE(CModbusRtu().CheckReadRegistersReply(rx, regs));

    // A buffer the reply fills returns with its last byte, without the closing gap.
    h.port.Write(ReadFrame(1, 0, 10));
    const Clock::Micros last = h.port.ByteDueAt(24);
    h.clock.advance(h.port.ByteDueAt(0) - h.clock.now());
    std::vector<std::uint8_t> exact(25);
    EXPECT_EQ(h.port.Read(exact), 25);
    EXPECT_EQ(h.clock.now(), last);
}

TEST(SimPortReadRules, WholeLongestBlockAfterTheUsualWait) {
    SimHarness h;
    // 255 bytes at 9600 bd take 266 ms: most are still on the wire when the master reads.
    const auto regs = h.Regs(1, 10, 125);
    ASSERT_EQ(regs.size(), 125u);
    EXPECT_EQ(h.clock.now(), Clock::Micros(8333 + 5000 + 265625) + kThreeChars);
}

TEST(SimPortReadRules, PauseInsideAReplySplitsItOnlyBeyondThreeCharacters) {
    SimHarness h;
    std::vector<std::uint8_t> rx(300);
    BusFault late{BusFault::Kind::Late};
    late.lateAfter = 10;

    late.extraMs = 4;  // a gap of 5.04 ms, within 3c: one Read takes it all
    h.bus.InjectFault(1, late);
    h.port.Write(ReadFrame(1, 0, 10));
    EXPECT_NEAR(static_cast<double>((h.port.ByteDueAt(10) - h.port.ByteDueAt(9)).count()), 5041.0, 1.0);
    h.clock.advance(h.port.ByteDueAt(0) - h.clock.now());
    EXPECT_EQ(h.port.Read(rx), 25);

    late.extraMs = 5;  // a gap of 6.04 ms, beyond 3c: the Read ends 3c after byte 10, the rest later
    h.bus.InjectFault(1, late);
    h.port.Write(ReadFrame(1, 0, 10));
    const Clock::Micros tenth = h.port.ByteDueAt(9);
    const Clock::Micros eleventh = h.port.ByteDueAt(10);
    h.clock.advance(h.port.ByteDueAt(0) - h.clock.now());
    EXPECT_EQ(h.port.Read(rx), 10);
    EXPECT_EQ(h.clock.now(), tenth + kThreeChars);
    EXPECT_EQ(h.port.Read(rx), 0);  // the pause is not over
    h.clock.advance(eleventh - h.clock.now());
    EXPECT_EQ(h.port.Read(rx), 15);
}

TEST(SimPortReadRules, TotalBoundEndsAReadThatIsStillCollecting) {
    SimHarness h;
    BusFault late{BusFault::Kind::Late};
    late.lateAfter = 2;
    late.extraMs = 4;  // byte 2 comes 5.04 ms after byte 1 (within 3c) at +6.08 ms: past the 6 ms of 3 bytes
    h.bus.InjectFault(1, late);
    h.port.Write(ReadFrame(1, 0, 10));
    const Clock::Micros start = h.port.ByteDueAt(0);
    h.clock.advance(start - h.clock.now());
    std::vector<std::uint8_t> rx(3);
    EXPECT_EQ(h.port.Read(rx), 2);
    EXPECT_EQ(h.clock.now(), start + Clock::Micros(6000));
    EXPECT_EQ(rx[2], 0);
}

TEST(SimPortReadRules, FasterLineAndLongerTurnaroundMoveTheDueTimes) {
    SimHarness h;
    h.bus.SetRegister(1, 501, 2);
    h.bus.WithModule(1, [](VirtualModule& m) { m.SetTurnaroundMs(20); });
    h.port.Open(19200);
    const Clock::Micros start = h.clock.now();
    h.port.Write(ReadFrame(1, 0, 10));
    EXPECT_EQ(h.port.ByteDueAt(24) - start, Clock::Micros(4166 + 20000 + 13020));
    EXPECT_EQ(h.port.CharTimeMs(), 1);
}

TEST(SimPortReadRules, ReadTakesWhatFitsAndTheRestLater) {
    SimHarness h;
    std::uint8_t req[8];
    CModbusRtu().BuildReadRegisters(req, 1, 0, 10);
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

TEST(SimPortReadRules, WritePurgesAnUnreadReply) {
    SimHarness h;
    std::uint8_t req[8];
    CModbusRtu().BuildReadRegisters(req, 1, 0, 10);
    h.port.Write(req);
    h.clock.sleep(200);
    // The next tick's request to an absent module: the old reply is gone, nothing comes.
    CModbusRtu().BuildReadRegisters(req, 9, 0, 10);
    h.port.Write(req);
    h.clock.sleep(200);
    std::vector<std::uint8_t> rx(300);
    EXPECT_EQ(h.port.Read(rx), 0);
    EXPECT_EQ(h.port.Sent().size(), 2u);
}

// The purge takes only what has arrived: a reply still on the wire comes in after it, and
// the module answers the next request once it has finished sending.
TEST(SimPortReadRules, AReplyStillOnItsWayOutlivesThePurge) {
    SimHarness h;
    h.bus.WithModule(1, [](VirtualModule& m) { m.SetTurnaroundMs(55); });
    h.port.Write(ReadFrame(1, 0, 10));  // 25 bytes due from 64.4 ms
    h.clock.sleep(10);
    h.port.Write(ReadFrame(1, 800, 6));  // 17 bytes
    ASSERT_EQ(h.port.ByteDueAt(0), Clock::Micros(8333 + 55000 + 1041));
    const Clock::Micros oldEnd = h.port.ByteDueAt(24);
    EXPECT_EQ(h.port.ByteDueAt(25), oldEnd + Clock::Micros(55000 + 1041));
    h.clock.advance(h.port.ByteDueAt(0) - h.clock.now());
    std::vector<std::uint8_t> rx(200);
    ASSERT_EQ(h.port.Read(rx), 25);  // the old reply, cut from the new one by the turnaround
    EXPECT_EQ(rx[2], 20);
    h.clock.sleep(100);
    ASSERT_EQ(h.port.Read(rx), 17);
    EXPECT_EQ(rx[2], 12);
}

TEST(SimPortReadRules, ClosedPortNeitherSendsNorReceives) {
    SimHarness h;
    h.port.Close();
    std::uint8_t req[8];
    CModbusRtu().BuildReadRegisters(req, 1, 0, 10);
    EXPECT_EQ(h.port.Write(req), 0);
    std::vector<std::uint8_t> rx(300);
    EXPECT_EQ(h.port.Read(rx), 0);
    EXPECT_FALSE(h.port.Open(0));
}
