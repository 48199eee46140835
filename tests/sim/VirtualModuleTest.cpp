#include <gtest/gtest.h>

#include <cmath>

#include "SimHarness.h"
#include "support/Frames.h"

namespace {

std::vector<std::uint8_t> WriteFrame(int addr, int start, const std::vector<std::int32_t>& values) {
    std::vector<std::uint8_t> req(9 + 2 * values.size());
    CModbusRtu().BuildWriteRegisters(req, addr, start, static_cast<int>(values.size()), values);
    return req;
}

std::uint32_t U32(const std::vector<std::int32_t>& r, std::size_t at) {
    return static_cast<std::uint32_t>(r[at]) | (static_cast<std::uint32_t>(r[at + 1]) << 16);
}

}  // namespace

TEST(VirtualModuleExceptions, UnknownFunctionIsCode01) {
    SimHarness h;
    EXPECT_EQ(h.Exchange(WithCrc({1, 0x07})), ExceptionFrame(1, 0x07, 1));
    EXPECT_EQ(h.Exchange(WithCrc({1, 0x06, 0x01, 0xF8, 0x00, 0x01})), ExceptionFrame(1, 0x06, 1));
}

TEST(VirtualModuleExceptions, UnmappedOrReadOnlyRegistersAreCode02) {
    SimHarness h;
    EXPECT_EQ(h.Read(1, 375, 1), ExceptionFrame(1, 0x03, 2));
    EXPECT_EQ(h.Read(1, 370, 6), ExceptionFrame(1, 0x03, 2));  // the block runs into 375
    EXPECT_EQ(h.Read(1, 600, 1), ExceptionFrame(1, 0x03, 2));
    EXPECT_EQ(h.Read(1, 65535, 1), ExceptionFrame(1, 0x03, 2));
    EXPECT_EQ(h.Write(1, 0, {1}), ExceptionFrame(1, 0x10, 2));  // a measurement
    EXPECT_EQ(h.Write(1, 375, {1}), ExceptionFrame(1, 0x10, 2));
    EXPECT_EQ(h.Exchange(WithCrc({1, 0x05, 0x00, 0x02, 0xFF, 0x00})), ExceptionFrame(1, 0x05, 2));
    EXPECT_EQ(h.Exchange(WithCrc({1, 0x02, 0x00, 0x01, 0x00, 0x02})), ExceptionFrame(1, 0x02, 2));
    // The neighbours of the hole still answer.
    EXPECT_EQ(h.Regs(1, 370, 5).size(), 5u);
    EXPECT_EQ(h.Regs(1, 376, 30).size(), 30u);
}

TEST(VirtualModuleExceptions, CountsOutOfRangeAreCode03) {
    SimHarness h;
    EXPECT_EQ(h.Read(1, 0, 0), ExceptionFrame(1, 0x03, 3));
    EXPECT_EQ(h.Read(1, 0, 126), ExceptionFrame(1, 0x03, 3));
    EXPECT_EQ(h.Regs(1, 0, 125, 400).size(), 125u);

    EXPECT_EQ(h.Write(1, 987, std::vector<std::int32_t>(124, 1), 400), ExceptionFrame(1, 0x10, 3));
    const auto ok = WriteFrame(1, 987, std::vector<std::int32_t>(123, 1));
    EXPECT_EQ(h.Exchange(ok, 400), WithCrc({ok.begin(), ok.begin() + 6}));
    // A byte count that disagrees with the register count.
    EXPECT_EQ(h.Exchange(WithCrc({1, 0x10, 0x01, 0xF8, 0x00, 0x01, 0x04, 0x00, 0x01})),
              ExceptionFrame(1, 0x10, 3));
    // A coil value other than on/off.
    EXPECT_EQ(h.Exchange(WithCrc({1, 0x05, 0x00, 0x00, 0x12, 0x34})), ExceptionFrame(1, 0x05, 3));
    // An address outside 1..247 or a baud index above 2 is refused, and nothing changes.
    EXPECT_EQ(h.Write(1, 500, {0}), ExceptionFrame(1, 0x10, 3));
    EXPECT_EQ(h.Write(1, 500, {248}), ExceptionFrame(1, 0x10, 3));
    EXPECT_EQ(h.Write(1, 501, {3}), ExceptionFrame(1, 0x10, 3));
    EXPECT_EQ(h.Regs(1, 500, 2), (std::vector<std::int32_t>{1, 1}));
}

TEST(VirtualModuleSettings, AddressChangeTakesEffectAfterTheEcho) {
    SimHarness h;
    const auto req = WriteFrame(1, 500, {7});
    EXPECT_EQ(h.Exchange(req), WithCrc({req.begin(), req.begin() + 6}));  // echoed from address 1
    EXPECT_TRUE(h.Read(1, 0, 10).empty());
    const auto regs = h.Regs(7, 500, 2);
    EXPECT_EQ(regs, (std::vector<std::int32_t>{7, 1}));
}

TEST(VirtualModuleSettings, BaudChangeTakesEffectAfterTheEcho) {
    SimHarness h;
    const auto req = WriteFrame(1, 501, {2});
    EXPECT_EQ(h.Exchange(req), WithCrc({req.begin(), req.begin() + 6}));  // still at 9600
    EXPECT_TRUE(h.Read(1, 0, 10).empty());
    h.port.Open(19200);
    EXPECT_EQ(h.Regs(1, 501, 1), (std::vector<std::int32_t>{2}));
}

TEST(VirtualModuleSettings, LimitsAndDeadZonesAreKept) {
    SimHarness h;
    const std::vector<std::int32_t> limits{25000, 19000, 0, 1500, 1600};
    ASSERT_FALSE(h.Write(1, 504, {25000, 19000}).empty());
    ASSERT_FALSE(h.Write(1, 507, {1500, 1600}).empty());
    EXPECT_EQ(h.Regs(1, 504, 5), limits);
    ASSERT_FALSE(h.Write(1, 1023, {7, 8, 9}).empty());
    EXPECT_EQ(h.Regs(1, 1023, 3), (std::vector<std::int32_t>{7, 8, 9}));
}

TEST(VirtualModuleCommands, EnergyPresetSetsTheOutletsEnergies) {
    SimHarness h;
    // Outlet index 4 (outlet 5): active 123456, reactive 65537, low word first.
    ASSERT_FALSE(h.Write(1, 9258, {999, 4, 0xE240, 0x0001, 0x0001, 0x0001}).empty());
    const int block = 10 + 4 * 12;
    auto regs = h.Regs(1, block, 12);
    ASSERT_EQ(regs.size(), 12u);
    EXPECT_EQ(U32(regs, 8), 123456u);
    EXPECT_EQ(U32(regs, 10), 65537u);
    // Energies grow with the power from the preset on.
    h.clock.advanceMs(3600 * 1000);
    regs = h.Regs(1, block, 12);
    EXPECT_GT(U32(regs, 8), 123456u);
    EXPECT_GT(U32(regs, 10), 65537u);
    // Outlet index 30 does not exist.
    EXPECT_EQ(h.Write(1, 9258, {999, 30, 0, 0, 0, 0}), ExceptionFrame(1, 0x10, 3));
}

TEST(VirtualModuleCommands, DemandClearRestartsTheMaximumFromThePresent) {
    SimHarness h;
    // The demand sways over 15 minutes: record a high, then read at the low.
    h.clock.advanceMs(225 * 1000);
    ASSERT_EQ(h.Regs(1, 700, 16).size(), 16u);
    h.clock.advanceMs(450 * 1000);
    auto regs = h.Regs(1, 700, 16);
    ASSERT_EQ(regs.size(), 16u);
    EXPECT_GT(regs[8], regs[0] * 105 / 100);  // phase A current: maximum well above the present

    ASSERT_FALSE(h.Write(1, 251, {888}).empty());
    regs = h.Regs(1, 700, 16);
    EXPECT_NEAR(regs[8], regs[0], regs[0] / 100);
    // Any other value leaves the maximum alone.
    h.clock.advanceMs(450 * 1000);
    ASSERT_EQ(h.Regs(1, 700, 16).size(), 16u);
    h.clock.advanceMs(450 * 1000);
    ASSERT_FALSE(h.Write(1, 251, {1}).empty());
    regs = h.Regs(1, 700, 16);
    EXPECT_GT(regs[8], regs[0] * 105 / 100);
}

TEST(VirtualModuleAlarms, VoltageBitsFollowTheWrittenLimits) {
    SimHarness h;
    EXPECT_EQ(h.Regs(1, 370, 1), (std::vector<std::int32_t>{0}));  // defaults 264 V / 176 V
    ASSERT_FALSE(h.Write(1, 504, {21000}).empty());                // upper below 220 V
    EXPECT_EQ(h.Regs(1, 370, 1), (std::vector<std::int32_t>{0x38}));
    ASSERT_FALSE(h.Write(1, 504, {26400, 23000}).empty());  // lower above 220 V
    EXPECT_EQ(h.Regs(1, 370, 1), (std::vector<std::int32_t>{0x07}));
    ASSERT_FALSE(h.Write(1, 504, {0, 0}).empty());  // zero disables
    EXPECT_EQ(h.Regs(1, 370, 1), (std::vector<std::int32_t>{0}));
}

TEST(VirtualModuleAlarms, CurrentBitsMarkOutletsAboveTheirLimit) {
    SimHarness h;
    // 0.01 A limits: outlets 1..30 at 0.10 A, so every outlet that draws current alarms.
    ASSERT_FALSE(h.Write(1, 507, std::vector<std::int32_t>(30, 10)).empty());
    std::vector<std::int32_t> block(360);
    for (int first = 0; first < 360; first += 120) {
        auto part = h.Regs(1, 10 + first, 120, 400);
        ASSERT_EQ(part.size(), 120u);
        std::copy(part.begin(), part.end(), block.begin() + first);
    }
    const auto alarms = h.Regs(1, 370, 3);
    ASSERT_EQ(alarms.size(), 3u);
    int idle = 0;
    for (int n = 1; n <= 30; ++n) {
        const bool draws = block[static_cast<std::size_t>((n - 1) * 12)] > 100;
        idle += draws ? 0 : 1;
        const int word = n <= 16 ? alarms[1] : alarms[2];
        const int bit = n <= 16 ? n - 1 : n - 17;
        EXPECT_EQ(((word >> bit) & 1) == 1, draws) << "outlet " << n;
    }
    EXPECT_GT(idle, 0);
    EXPECT_LT(idle, 30);
}

TEST(VirtualModuleAlarms, CircuitFaultBitsIn373And374) {
    SimHarness h;
    h.bus.WithModule(1, [](VirtualModule& m) {
        m.SetCircuitFault(1, true);
        m.SetCircuitFault(16, true);
        m.SetCircuitFault(17, true);
        m.SetCircuitFault(30, true);
    });
    EXPECT_EQ(h.Regs(1, 373, 2), (std::vector<std::int32_t>{0x8001, 0x2001}));
}

TEST(VirtualModuleCoils, RelayStatusFollowsTheCoils) {
    SimHarness h;
    std::uint8_t req[8];
    CModbusRtu().BuildWriteCoil(req, 1, 1, 1);
    EXPECT_EQ(h.Exchange(req), std::vector<std::uint8_t>(req, req + 8));
    EXPECT_EQ(h.Regs(1, 38, 1), (std::vector<std::int32_t>{2}));
    CModbusRtu().BuildReadCoils(req, 1, 0, 2);
    EXPECT_EQ(h.Exchange(req), WithCrc({1, 0x01, 1, 0x02}));
}

TEST(VirtualModuleMap, LiveBlocksLookPlausible) {
    SimHarness h;
    const auto line = h.Regs(1, 0, 10);
    ASSERT_EQ(line.size(), 10u);
    // One outlet exports (negative active power), apparent power agrees with P and Q.
    bool exporting = false;
    for (int n = 0; n < 30; ++n) {
        const auto o = h.Regs(1, 10 + 12 * n, 12);
        ASSERT_EQ(o.size(), 12u);
        const auto p = static_cast<std::int32_t>(U32(o, 1));
        const auto q = static_cast<std::int32_t>(U32(o, 3));
        const double s = U32(o, 5);
        const double pd = p, qd = q;
        exporting = exporting || p < 0;
        EXPECT_NEAR(s, std::sqrt(pd * pd + qd * qd), 2.0) << "outlet " << n + 1;
    }
    EXPECT_TRUE(exporting);
    const auto versions = h.Regs(1, 9500, 8);
    ASSERT_EQ(versions.size(), 8u);
    EXPECT_EQ(versions[2] & 0xFF, 'S');  // text, low byte first
    EXPECT_EQ(versions[2] >> 8, 'I');
}
