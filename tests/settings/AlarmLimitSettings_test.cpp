// The alarm-limit form's rules on the virtual clock against the virtual module.
#include "settings/AlarmLimitSettings.h"

#include <gtest/gtest.h>

#include <tuple>

#include "link/LinkState.h"
#include "sim/SimPort.h"
#include "sim/VirtualBus.h"
#include "support/Frames.h"
#include "support/RecordingSink.h"
#include "support/ScriptedPort.h"
#include "support/SimLink.h"

namespace {

const Frame kReadBlock = WithCrc(Hex("01 03 01 F8 00 21"));  // 33 registers from 504

class AlarmLimitSettingsTest : public ::testing::Test, protected SimLink {
protected:
    AlarmLimitSettingsTest() {}
    // Column 2 as a user leaves it: voltages and every outlet limit.
    void Type(const std::string& upper, const std::string& lower, const std::string& outlets) {
        limits.SetTyped(1, upper);
        limits.SetTyped(2, lower);
        for (int n = 1; n <= 30; ++n) limits.SetTyped(2 + n, outlets);
    }
    std::string Cell(int r, int c) const { return limits.Cells().Text(r, c); }

    RecordingSink sink;
    AlarmLimitSettings limits{link, clock};
};

TEST_F(AlarmLimitSettingsTest, FirstDisplayReadsTheBlockWithSpacedUnitsAndPresetsColumnTwo) {
    EXPECT_EQ(Cell(0, 0), "Item");
    EXPECT_EQ(Cell(0, 1), "Initial value");
    EXPECT_EQ(Cell(0, 2), "Setting value");
    EXPECT_EQ(Cell(1, 0), "Voltage Upper limit");
    EXPECT_EQ(Cell(2, 0), "Voltage Lower limit");
    EXPECT_EQ(Cell(3, 0), "Outlet 1 Current Upper limit");
    EXPECT_EQ(Cell(32, 0), "Outlet 30 Current Upper limit");
    bus.SetRegister(1, 536, 1);
    bus.SetRegister(1, 506, 999);  // read with the block, never shown

    const auto t0 = clock.nowMs();
    ASSERT_TRUE(limits.Open(sink));
    EXPECT_EQ(clock.nowMs() - t0, 400);
    ASSERT_EQ(port.Sent().size(), 1u);
    EXPECT_EQ(port.Sent()[0], kReadBlock);
    EXPECT_EQ(Cell(1, 1), "264.00 V");
    EXPECT_EQ(Cell(2, 1), "176.00 V");
    EXPECT_EQ(Cell(3, 1), "63.00  A");
    EXPECT_EQ(Cell(32, 1), "0.01  A");
    // The setting column starts from the module's values, without units.
    EXPECT_EQ(Cell(1, 2), "264.00");
    EXPECT_EQ(Cell(2, 2), "176.00");
    EXPECT_EQ(Cell(3, 2), "63.00");
    EXPECT_EQ(Cell(32, 2), "0.01");
    EXPECT_TRUE(sink.messages.empty());

    // Read drops the space of the voltage unit and fills column 2 again.
    limits.SetTyped(1, "250");
    ASSERT_TRUE(limits.Read(sink));
    EXPECT_EQ(Cell(1, 1), "264.00V");
    EXPECT_EQ(Cell(3, 1), "63.00  A");
    EXPECT_EQ(Cell(1, 2), "264.00");
}

// One changed limit and a Set: every other limit is written back as the module held it.
TEST_F(AlarmLimitSettingsTest, ASetAfterTheReadChangesOnlyWhatWasTyped) {
    bus.SetRegister(1, 505, 18123);
    bus.SetRegister(1, 517, 1234);
    ASSERT_TRUE(limits.Open(sink));
    limits.SetTyped(1, "250");
    ASSERT_EQ(limits.Set(sink), WriteOutcome::Done);
    EXPECT_TRUE(sink.messages.empty());
    EXPECT_EQ(bus.ReadRegister(1, 504), 25000);
    EXPECT_EQ(bus.ReadRegister(1, 505), 18123);
    EXPECT_EQ(bus.ReadRegister(1, 517), 1234);
    for (int r = 507; r <= 536; ++r) EXPECT_EQ(bus.ReadRegister(1, r), r == 517 ? 1234 : 6300) << r;
    EXPECT_EQ(Cell(1, 2), "250.00");  // the read-back fills column 2 as well
}

// A typo is never taken for its leading digits or for 0: the first cell that is no plain
// number is named and nothing reaches the module.
TEST_F(AlarmLimitSettingsTest, ACellThatIsNoPlainNumberIsRefusedByItsRow) {
    ASSERT_TRUE(limits.Open(sink));
    const std::vector<std::tuple<int, std::string, std::string>> typos{
        {1, "26O", "Voltage Upper limit: \"26O\" is not a number!"},
        {3, "1O", "Outlet 1 Current Upper limit: \"1O\" is not a number!"},
        {32, "abc", "Outlet 30 Current Upper limit: \"abc\" is not a number!"},
        {2, "12.345 V", "Voltage Lower limit: \"12.345 V\" is not a number!"},
        {17, " ", "Outlet 15 Current Upper limit: no setting value!"},
    };
    for (const auto& [row, text, message] : typos) {
        ASSERT_TRUE(limits.Read(sink));
        limits.SetTyped(row, text);
        sink.messages.clear();
        EXPECT_EQ(limits.Set(sink), WriteOutcome::Refused) << text;
        ASSERT_EQ(sink.messages.size(), 1u);
        EXPECT_EQ(sink.messages[0].text, message);
        EXPECT_EQ(sink.messages[0].icon, MsgIcon::Exclamation);
    }
    // A typo below an out-of-range value is still the fault named: it would otherwise be
    // written once the range was mended.
    ASSERT_TRUE(limits.Read(sink));
    limits.SetTyped(1, "400");
    limits.SetTyped(20, "5x");
    EXPECT_EQ(limits.Check(), "Outlet 18 Current Upper limit: \"5x\" is not a number!");
    for (const Frame& f : port.Sent()) EXPECT_EQ(f, kReadBlock);
}

TEST_F(AlarmLimitSettingsTest, AFailedReadWarnsAndKeepsTheGrid) {
    bus.InjectFault(1, {BusFault::Kind::NoReply});
    EXPECT_FALSE(limits.Open(sink));
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0].text, "Unable to read meter data!");
    EXPECT_EQ(sink.messages[0].caption, "Warning");
    EXPECT_EQ(sink.messages[0].icon, MsgIcon::Stop);
    EXPECT_EQ(Cell(1, 1), "");
    EXPECT_EQ(Cell(1, 2), "");  // empty until the user types

    bus.ClearFault(1);
    ASSERT_TRUE(limits.Read(sink));
    bus.InjectFault(1, {BusFault::Kind::BadCrc});
    bus.SetRegister(1, 504, 30000);
    EXPECT_FALSE(limits.Read(sink));
    EXPECT_EQ(sink.messages.size(), 2u);
    EXPECT_EQ(Cell(1, 1), "264.00V");
}

// The frames of the Parts' own numbers, cut on their typed digits, then the read-back
// of what the module now holds.
TEST_F(AlarmLimitSettingsTest, SetWritesBothBlocksThenReadsBack) {
    ASSERT_TRUE(limits.Open(sink));
    Type("380.00", "12.345", "0");
    limits.SetTyped(3, "1.13");
    limits.SetTyped(4, "2.01");
    limits.SetTyped(5, "63.0");
    limits.SetTyped(6, "1.0");
    limits.SetTyped(7, "12.345");
    limits.SetTyped(32, " 0 ");  // typed 0: the limit switched off
    ASSERT_EQ(limits.Set(sink), WriteOutcome::Done);
    EXPECT_TRUE(sink.messages.empty());

    ASSERT_EQ(port.Sent().size(), 4u);
    EXPECT_EQ(port.Sent()[1], WithCrc(Hex("01 10 01 F8 00 02 04 94 70 04 D2")));
    Frame currents = Hex("01 10 01 FB 00 1E 3C 00 71 00 C9 18 9C 00 64 04 D2");
    currents.resize(7 + 60, 0);
    EXPECT_EQ(port.Sent()[2], WithCrc(currents));
    EXPECT_EQ(port.Sent()[3], kReadBlock);

    EXPECT_EQ(Cell(1, 1), "380.00V");
    EXPECT_EQ(Cell(2, 1), "12.34V");
    EXPECT_EQ(Cell(3, 1), "1.13  A");
    EXPECT_EQ(Cell(4, 1), "2.01  A");
    EXPECT_EQ(Cell(32, 1), "0.00  A");
    EXPECT_EQ(Cell(2, 2), "12.34");  // column 2 shows what the module took

    Type("1.13", "0.29", "0");
    ASSERT_EQ(limits.Set(sink), WriteOutcome::Done);
    EXPECT_EQ(port.Sent()[4], WithCrc(Hex("01 10 01 F8 00 02 04 00 71 00 1D")));
    EXPECT_EQ(Cell(2, 1), "0.29V");
}

TEST_F(AlarmLimitSettingsTest, WritesWaitThreeHundredMsEachAndTheirEchoesAreNotJudged) {
    ScriptedPort scripted(clock);
    scripted.Open();
    scripted.answerReads = true;  // no echo to a write, only read replies
    link.port = &scripted;
    Type("230", "200", "10");
    const auto t0 = clock.nowMs();
    ASSERT_EQ(limits.Set(sink), WriteOutcome::Done);
    ASSERT_EQ(scripted.writes.size(), 3u);
    EXPECT_EQ(scripted.writeTimesMs, (std::vector<std::int64_t>{t0, t0 + 300, t0 + 600}));
    EXPECT_EQ(scripted.readTimesMs, (std::vector<std::int64_t>{t0 + 1000}));
    EXPECT_TRUE(sink.messages.empty());

    scripted.mute = true;  // a read-back that fails is the only failure a Set reports
    EXPECT_EQ(limits.Set(sink), WriteOutcome::Failed);
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0].text, "Unable to read meter data!");
}

TEST_F(AlarmLimitSettingsTest, EveryRefusalShowsTheFirstFaultAndSendsNothing) {
    struct Case {
        std::string upper, lower, outlet;
        int outletRow;
        const char* message;
    };
    const char* upper = "Voltage Upper limit setting range:0.00V ~ 380.00V!";
    const char* lower = "Voltage Lower limit setting range:0.00V ~ 380.00V!";
    const char* order = "The lower voltage limit must be less than the voltage limit!";
    const char* current = "Current Upper limit setting range:0.0A ~ 63.0A!";
    const std::vector<Case> cases{
        {"380.01", "200", "", 3, upper},
        {"-0.01", "200", "", 3, upper},
        {"230", "380.01", "", 3, lower},
        {"230", "-5", "", 3, lower},
        {"200", "200.01", "", 3, order},
        {"230", "200", "0.5", 3, current},
        {"230", "200", "63.01", 32, current},
        {"230", "200", "0.99", 17, current},
        {"230", "200", "-1", 4, current},
        {"400", "500", "0.5", 3, upper},  // the first fault from the top
        {"200", "300", "0.5", 3, order},
    };
    for (const Case& c : cases) {
        Type(c.upper, c.lower, "10");
        if (!c.outlet.empty()) limits.SetTyped(c.outletRow, c.outlet);
        sink.messages.clear();
        EXPECT_EQ(limits.Set(sink), WriteOutcome::Refused) << c.upper << " " << c.lower << " " << c.outlet;
        ASSERT_EQ(sink.messages.size(), 1u);
        EXPECT_EQ(sink.messages[0].text, c.message) << c.upper << " " << c.lower << " " << c.outlet;
        EXPECT_EQ(sink.messages[0].caption, "Warning");
        EXPECT_EQ(sink.messages[0].icon, MsgIcon::Exclamation);
    }
    EXPECT_TRUE(port.Sent().empty());
}

TEST_F(AlarmLimitSettingsTest, ZeroSuspendsTheOrderAndEqualLimitsPass) {
    const std::vector<std::pair<std::string, std::string>> accepted{
        {"230.00", "0.00"}, {"0.00", "200.00"}, {"200.00", "200.00"}, {"200.009", "200.001"}, {"380", "0"}};
    for (const auto& [u, l] : accepted) {
        Type(u, l, "0");
        limits.SetTyped(3, "1.0");
        limits.SetTyped(4, "63.0");
        EXPECT_EQ(limits.Set(sink), WriteOutcome::Done) << u << " " << l;
    }
    EXPECT_TRUE(sink.messages.empty());
    EXPECT_EQ(bus.ReadRegister(1, 504), 38000);
    EXPECT_EQ(bus.ReadRegister(1, 505), 0);
    EXPECT_EQ(bus.ReadRegister(1, 507), 100);
    EXPECT_EQ(bus.ReadRegister(1, 508), 6300);
}

}  // namespace
