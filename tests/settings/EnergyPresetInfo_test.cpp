// The device-settings form's rules: the energy preset and the meter information.
#include "settings/EnergyPresetInfo.h"

#include <gtest/gtest.h>

#include "link/LinkState.h"
#include "sim/SimPort.h"
#include "sim/VirtualBus.h"
#include "support/Frames.h"
#include "support/RecordingSink.h"
#include "support/ScriptedPort.h"
#include "support/SimLink.h"

namespace {

class EnergyPresetInfoTest : public ::testing::Test, protected SimLink {
protected:
    EnergyPresetInfoTest() {}
    std::string Cell(int r, int c) const { return device.Cells().Text(r, c); }

    RecordingSink sink;
    EnergyPresetInfo device{link, clock};
};

TEST_F(EnergyPresetInfoTest, PresetSendsTheCommandWaitsAndConfirmsTheEcho) {
    device.SetFields("1", "1234.5", "0");
    const auto t0 = clock.nowMs();
    ASSERT_EQ(device.PresetEnergy(sink), WriteOutcome::Done);
    EXPECT_EQ(clock.nowMs() - t0, 3000);
    ASSERT_EQ(port.Sent().size(), 1u);
    EXPECT_EQ(port.Sent()[0], WithCrc(Hex("01 10 24 2A 00 06 0C 03 E7 00 00 30 39 00 00 00 00 00 00")));
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0].text, "写入数据成功!");
    EXPECT_EQ(sink.messages[0].caption, "提示");
    EXPECT_EQ(sink.messages[0].icon, MsgIcon::Information);

    // The largest energies, low word first; and a tenth's fraction is cut, not rounded.
    device.SetFields("30", "99999999.9", "0.05");
    ASSERT_EQ(device.PresetEnergy(sink), WriteOutcome::Done);
    EXPECT_EQ(port.Sent()[1], WithCrc(Hex("01 10 24 2A 00 06 0C 03 E7 00 1D C9 FF 3B 9A 00 00 00 00")));
    device.SetFields("2", "0.29", "1.13");
    ASSERT_EQ(device.PresetEnergy(sink), WriteOutcome::Done);
    EXPECT_EQ(port.Sent()[2], WithCrc(Hex("01 10 24 2A 00 06 0C 03 E7 00 01 00 02 00 00 00 0B 00 00")));
}

TEST_F(EnergyPresetInfoTest, AMissingOrRefusedEchoIsReportedAsNotWritten) {
    device.SetFields("1", "10", "10");
    for (const BusFault& fault : {BusFault{BusFault::Kind::NoReply}, BusFault{BusFault::Kind::Exception},
                                  BusFault{BusFault::Kind::BadCrc}}) {
        bus.InjectFault(1, fault);
        sink.messages.clear();
        EXPECT_EQ(device.PresetEnergy(sink), WriteOutcome::Failed);
        ASSERT_EQ(sink.messages.size(), 1u);
        EXPECT_EQ(sink.messages[0].text, "无法写入数据，请确认是否连接正确!");
        EXPECT_EQ(sink.messages[0].caption, "警告");
        EXPECT_EQ(sink.messages[0].icon, MsgIcon::Stop);
    }
}

TEST_F(EnergyPresetInfoTest, FieldChecksRefuseBeforeAnythingIsSent) {
    struct Case {
        const char* outlet;
        const char* active;
        const char* reactive;
        const char* message;
    };
    const char* outlet = "The outlet must be a whole number from 1 to 30.";
    const char* active = "The active energy must be a number from 0.0 to 99999999.9.";
    const char* reactive = "The reactive energy must be a number from 0.0 to 99999999.9.";
    const std::vector<Case> cases{
        {"0", "1", "1", outlet},         {"31", "1", "1", outlet},          {"", "1", "1", outlet},
        {"1.5", "1", "1", outlet},       {"2x", "1", "1", outlet},          {"1", "-0.1", "1", active},
        {"1", "100000000", "1", active}, {"1", "99999999.95", "1", active}, {"1", "12abc", "1", active},
        {"1", "", "1", active},          {"1", "1", "-5", reactive},        {"1", "1", "x", reactive},
        {"0", "-1", "-1", outlet},  // the first field first
    };
    for (const Case& c : cases) {
        device.SetFields(c.outlet, c.active, c.reactive);
        sink.messages.clear();
        EXPECT_EQ(device.PresetEnergy(sink), WriteOutcome::Refused)
            << c.outlet << "|" << c.active << "|" << c.reactive;
        ASSERT_EQ(sink.messages.size(), 1u);
        EXPECT_EQ(sink.messages[0].text, c.message) << c.outlet << "|" << c.active << "|" << c.reactive;
        EXPECT_EQ(sink.messages[0].icon, MsgIcon::Exclamation);
    }
    EXPECT_TRUE(port.Sent().empty());
    device.SetFields(" 30 ", "0", "99999999.9");
    EXPECT_FALSE(device.CheckFields().has_value());
}

TEST_F(EnergyPresetInfoTest, InfoReadsFourBlocksAndFillsItsRows) {
    EXPECT_EQ(device.Cells().Tsv(),
              "项目\t当前值\t设定值\n软件版本\t\t/\n测试版本\t\t/\n定制单号\t\t/\n硬件版本\t\t/\n");
    bus.WithModule(1, [](VirtualModule& m) {
        m.SetStored(9500, 0x1268);  // only the low byte is the version
        m.SetStored(9502, 0x4241);
        m.SetStored(9503, 0x0043);
    });
    const auto t0 = clock.nowMs();
    ASSERT_TRUE(device.ReadInfo(sink));
    EXPECT_EQ(clock.nowMs() - t0, 4 * 250);
    ASSERT_EQ(port.Sent().size(), 4u);
    EXPECT_EQ(port.Sent()[0], WithCrc(Hex("01 03 25 1C 00 01")));
    EXPECT_EQ(port.Sent()[1], WithCrc(Hex("01 03 25 1D 00 01")));
    EXPECT_EQ(port.Sent()[2], WithCrc(Hex("01 03 25 1E 00 06")));
    EXPECT_EQ(port.Sent()[3], WithCrc(Hex("01 03 25 5B 00 01")));
    EXPECT_EQ(device.Cells().Tsv(),
              "项目\t当前值\t设定值\n软件版本\t104\t/\n测试版本\t3\t/\n定制单号\tABC\t/\n硬件版本\t2\t/\n");
    EXPECT_TRUE(sink.messages.empty());
}

TEST_F(EnergyPresetInfoTest, TheFirstFailedReadStopsTheSequenceAndKeepsTheRowsFilled) {
    ScriptedPort scripted(clock);
    scripted.Open();
    link.port = &scripted;
    scripted.replies = {RegistersReply(1, 1, 104), RegistersReply(1, 1, 3)};  // then nothing
    EXPECT_FALSE(device.ReadInfo(sink));
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0].text, "无法读取仪表数据!");
    EXPECT_EQ(sink.messages[0].caption, "警告");
    EXPECT_EQ(sink.messages[0].icon, MsgIcon::Stop);
    EXPECT_EQ(scripted.ReadRequests(), (std::vector<std::pair<int, int>>{{9500, 1}, {9501, 1}, {9502, 6}}));
    EXPECT_EQ(Cell(1, 1), "104");
    EXPECT_EQ(Cell(2, 1), "3");
    EXPECT_EQ(Cell(3, 1), "");

    // A reply too short for the six order registers fails like no reply.
    scripted.replies = {RegistersReply(1, 1, 105), RegistersReply(1, 1, 4), RegistersReply(1, 2, 0x4241)};
    EXPECT_FALSE(device.ReadInfo(sink));
    EXPECT_EQ(sink.messages.size(), 2u);
    EXPECT_EQ(Cell(1, 1), "105");
    EXPECT_EQ(Cell(3, 1), "");
    EXPECT_EQ(Cell(4, 1), "");
}

TEST(DeviceSettingsOrderText, LowByteFirstUpToTheFirstZero) {
    const std::vector<std::int32_t> empty{0, 0x4241, 0, 0, 0, 0};
    EXPECT_EQ(EnergyPresetInfo::OrderText(empty), "/");
    const std::vector<std::int32_t> ab{0x4241, 0, 0x4443, 0, 0, 0};
    EXPECT_EQ(EnergyPresetInfo::OrderText(ab), "AB");
    const std::vector<std::int32_t> odd{0x0041, 0x4443, 0, 0, 0, 0};
    EXPECT_EQ(EnergyPresetInfo::OrderText(odd), "A");
    const std::vector<std::int32_t> full{0x3231, 0x3433, 0x3635, 0x3837, 0x3039, 0x4241};
    EXPECT_EQ(EnergyPresetInfo::OrderText(full), "1234567890AB");
    // A tab, a line end or a byte of another code page never splits a grid line.
    const std::vector<std::int32_t> odd2{0x0941, 0x0A42, 0xC4D6, 0, 0, 0};
    EXPECT_EQ(EnergyPresetInfo::OrderText(odd2), "A?B???");
}

}  // namespace
