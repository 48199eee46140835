// The dead-zone settings: the read map, the write order, the waits and bad set values.
#include <gtest/gtest.h>

#include "calibration/DeadZone.h"
#include "sim/SimPort.h"
#include "sim/VirtualBus.h"
#include "support/RecordingSink.h"
#include "support/ScriptedPort.h"
#include "support/SimLink.h"

namespace {

class DeadZoneTest : public ::testing::Test {
protected:
    void SetUp() override {
        module.Open();
        module.answerReads = true;
        link.protocol = &rtu;
        link.port = &module;
        for (int k = 0; k < 10; ++k) module.regs[1023 + k] = static_cast<std::uint16_t>(k + 1);
    }
    CModbusRtu rtu;
    VirtualClock clock;
    ScriptedPort module{clock};
    LinkState link;
    RecordingSink sink;
};

}  // namespace

TEST_F(DeadZoneTest, TheGridAndTheReadMap) {
    DeadZone dz(link, clock);
    EXPECT_EQ(dz.Cells().Tsv(),
              "项目\t当前值\t设定值\n"
              "A相电压(0.01V)\t\t100\nB相电压(0.01V)\t\t100\nC相电压(0.01V)\t\t100\n"
              "A相电流(mA)\t\t10\nB相电流(mA)\t\t10\nC相电流(mA)\t\t10\n零序电流(mA)\t\t30\n"
              "A相电流电能死区(mA)\t\t50\nB相电流电能死区(mA)\t\t50\nC相电流电能死区(mA)\t\t50\n");
    const auto t0 = clock.nowMs();
    ASSERT_TRUE(dz.Read(&sink));
    EXPECT_EQ(clock.nowMs() - t0, 200);
    EXPECT_EQ(module.ReadRequests(), (std::vector<std::pair<int, int>>{{1023, 10}}));
    // Registers 1023..1025 show in rows 8..10, 1026..1032 in rows 1..7.
    for (int r = 1; r <= 10; ++r)
        EXPECT_EQ(dz.Cells().Text(r, 1), std::to_string(r <= 7 ? r + 3 : r - 7)) << r;
}

TEST_F(DeadZoneTest, SetWritesThirtyTwoThenRowsEightToTenThenOneToSeven) {
    DeadZone dz(link, clock);
    const auto t0 = clock.nowMs();
    ASSERT_TRUE(dz.Set(&sink));
    ASSERT_EQ(module.writes.size(), 2u);
    EXPECT_EQ(module.writes[0],
              WithCrc({0x01, 0x10, 0x03, 0xFF, 0x00, 0x0B, 0x16, 0x00, 32,   0x00, 50,   0x00, 50,   0x00, 50,
                       0x00, 100,  0x00, 100,  0x00, 100,  0x00, 10,   0x00, 10,   0x00, 10,   0x00, 30}));
    EXPECT_EQ(StartOf(module.writes[1]), 1023);  // read again
    EXPECT_EQ(CountOf(module.writes[1]), 10);
    EXPECT_EQ(module.writeTimesMs[1] - t0, 200);
    EXPECT_TRUE(sink.messages.empty());

    dz.Cells().Set(4, 2, "0");
    dz.Cells().Set(8, 2, " 12 ");
    dz.Cells().Set(1, 2, "2");
    ASSERT_TRUE(dz.Set(&sink));
    const Frame& f = module.writes[2];
    EXPECT_EQ(f[7 + 2 * 1 + 1], 12);  // row 8
    EXPECT_EQ(f[7 + 2 * 4 + 1], 2);   // row 1
    EXPECT_EQ(f[7 + 2 * 7 + 1], 0);   // row 4
}

// Only a whole number that fits the register is a dead zone; anything else would be written
// as a value nobody typed (its leading digits, or 0).
TEST_F(DeadZoneTest, ASetValueThatIsNoWholeRegisterValueIsRefusedBeforeAnythingIsSent) {
    DeadZone dz(link, clock);
    for (const char* bad : {"65536", "-1", "99999999999", "12.9", "12abc", "", "1e3"}) {
        dz.Cells().Set(5, 2, bad);
        module.writes.clear();
        sink.messages.clear();
        EXPECT_FALSE(dz.Set(&sink)) << bad;
        EXPECT_TRUE(module.writes.empty()) << bad;
        ASSERT_EQ(sink.messages.size(), 1u);
        EXPECT_EQ(sink.messages[0].text, "设定值须为0到65535的整数！");
    }
    dz.Cells().Set(5, 2, "65535");
    EXPECT_TRUE(dz.Set(&sink));
}

TEST_F(DeadZoneTest, AFailedReadLeavesTheCellsAndSaysSoOnce) {
    DeadZone dz(link, clock);
    ASSERT_TRUE(dz.Read(&sink));
    module.Close();
    EXPECT_FALSE(dz.Read(&sink));
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0].text, "无法读取仪表数据!");
    EXPECT_EQ(sink.messages[0].caption, "警告");
    EXPECT_EQ(dz.Cells().Text(1, 1), "4");
}

class DeadZoneOnTheVirtualModule : public ::testing::Test, protected SimLink {};

TEST_F(DeadZoneOnTheVirtualModule, ASetReadsBackEachRowsOwnValue) {
    DeadZone dz(link, clock);
    ASSERT_TRUE(dz.Read(nullptr));
    for (int r = 1; r <= 10; ++r)
        EXPECT_EQ(dz.Cells().Text(r, 1), dz.Cells().Text(r, 2)) << r;  // the defaults
    for (int r = 1; r <= 10; ++r) dz.Cells().Set(r, 2, std::to_string(100 * r));
    ASSERT_TRUE(dz.Set(nullptr));
    for (int r = 1; r <= 10; ++r) EXPECT_EQ(dz.Cells().Text(r, 1), std::to_string(100 * r)) << r;
}
