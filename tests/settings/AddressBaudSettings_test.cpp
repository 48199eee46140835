// The communication-parameter form's rules: the read, the address check, the write and
// the read-back at the link's old settings.
#include "settings/AddressBaudSettings.h"

#include <gtest/gtest.h>

#include "link/LinkState.h"
#include "sim/SimPort.h"
#include "sim/VirtualBus.h"
#include "support/Frames.h"
#include "support/RecordingSink.h"
#include "support/ScriptedPort.h"
#include "support/SimLink.h"

namespace {

const Frame kReadBlock = WithCrc(Hex("01 03 01 F4 00 07"));  // 7 registers from 500

class AddressBaudSettingsTest : public ::testing::Test, protected SimLink {
protected:
    AddressBaudSettingsTest() {}
    std::string Cell(int r, int c) const { return params.Cells().Text(r, c); }

    RecordingSink sink;
    AddressBaudSettings params{link, clock};
};

TEST_F(AddressBaudSettingsTest, ReadFillsBothColumnsWithTheBaudOptionTexts) {
    EXPECT_EQ(params.Cells().Tsv(),
              "Item\tInitial value\tSetting value\nDevice address\t\t\nBaudrate\t\t9600 \n");
    bus.WithModule(1, [](VirtualModule& m) {
        m.WriteRegister(501, 2);
        m.ApplyPending();
    });
    port.Open(19200);
    const auto t0 = clock.nowMs();
    ASSERT_TRUE(params.Read(sink));
    EXPECT_EQ(clock.nowMs() - t0, 400);
    EXPECT_EQ(port.Sent().at(0), kReadBlock);
    EXPECT_EQ(params.Cells().Tsv(),
              "Item\tInitial value\tSetting value\nDevice address\t1\t1\nBaudrate\t19200 \t19200 \n");
    EXPECT_TRUE(sink.messages.empty());
}

TEST_F(AddressBaudSettingsTest, AddressIsSignedAndAnUnknownBaudIndexLeavesTheCellsEmpty) {
    ScriptedPort scripted(clock);
    scripted.Open();
    link.port = &scripted;
    scripted.replies = {WithCrc(Hex("01 03 0E FF FF 00 05 00 00 00 00 00 00 00 00 00 00"))};
    ASSERT_TRUE(params.Read(sink));
    EXPECT_EQ(Cell(1, 1), "-1");
    EXPECT_EQ(Cell(1, 2), "-1");
    EXPECT_EQ(Cell(2, 1), "");
    EXPECT_EQ(Cell(2, 2), "");
    // Its position would be -1, and 0xFFFF would go to register 501: refused.
    params.SetTyped(1, "5");
    EXPECT_EQ(params.Set(sink), WriteOutcome::Refused);
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0].text, "Baudrate setting: choose 4800, 9600 or 19200!");
    EXPECT_EQ(scripted.writes.size(), 1u);
}

TEST_F(AddressBaudSettingsTest, AFailedReadWarnsAndKeepsTheGrid) {
    ASSERT_TRUE(params.Read(sink));
    bus.InjectFault(1, {BusFault::Kind::Exception});
    EXPECT_FALSE(params.Read(sink));
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0].text, "Communication failed!");
    EXPECT_EQ(sink.messages[0].caption, "Warning");
    EXPECT_EQ(sink.messages[0].icon, MsgIcon::Stop);
    EXPECT_EQ(Cell(1, 1), "1");
}

TEST_F(AddressBaudSettingsTest, AddressesOutsideOneTo247AreRefusedAndNothingIsWritten) {
    ASSERT_TRUE(params.Read(sink));
    for (const char* typed : {"0", "248", "", "abc", "-1", "4294967297", "00x12"}) {
        params.SetTyped(1, typed);
        sink.messages.clear();
        EXPECT_EQ(params.Set(sink), WriteOutcome::Refused) << typed;
        ASSERT_EQ(sink.messages.size(), 1u);
        EXPECT_EQ(sink.messages[0].text, "Device address setting range:1~247!") << typed;
        EXPECT_EQ(sink.messages[0].caption, "Warning");
        EXPECT_EQ(sink.messages[0].icon, MsgIcon::Exclamation);
    }
    EXPECT_EQ(port.Sent().size(), 1u);  // the read only
}

TEST_F(AddressBaudSettingsTest, TheSameSettingsReadBackTheSameValues) {
    ASSERT_TRUE(params.Read(sink));
    const auto t0 = clock.nowMs();
    EXPECT_EQ(params.Set(sink), WriteOutcome::Done);
    EXPECT_EQ(clock.nowMs() - t0, 300 + 400);
    ASSERT_EQ(port.Sent().size(), 3u);
    EXPECT_EQ(port.Sent()[1], WithCrc(Hex("01 10 01 F4 00 02 04 00 01 00 01")));
    EXPECT_EQ(port.Sent()[2], kReadBlock);
    EXPECT_EQ(params.Cells().Tsv(),
              "Item\tInitial value\tSetting value\nDevice address\t1\t1\nBaudrate\t9600 \t9600 \n");
    EXPECT_TRUE(sink.messages.empty());
}

// After a change the module answers only at its new settings: the link follows it there
// (a new rate through the reopener), reads back there and says so.
TEST_F(AddressBaudSettingsTest, AChangeIsFollowedToTheModulesNewSettings) {
    std::vector<int> reopened;
    const auto reopen = [&](int baudIndex) {
        reopened.push_back(baudIndex);
        port.Close();
        return port.Open(BaudRateOf(baudIndex));
    };
    ASSERT_TRUE(params.Read(sink));
    params.SetTyped(1, "12");
    params.SetTyped(2, "19200 ");
    ASSERT_EQ(params.Set(sink, reopen), WriteOutcome::Done);
    EXPECT_EQ(reopened, std::vector<int>{2});
    EXPECT_EQ(link.deviceAddress, 12);
    EXPECT_EQ(link.baudIndex, 2);
    EXPECT_TRUE(params.LinkMoved());
    EXPECT_EQ(port.Sent(),
              std::vector<Frame>{WithCrc(Hex("0C 03 01 F4 00 07"))});  // at 19200, after the reopen
    EXPECT_EQ(params.Cells().Tsv(),
              "Item\tInitial value\tSetting value\nDevice address\t12\t12\nBaudrate\t19200 \t19200 \n");
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0].text, "The module now answers at address 12, 19200 bps.");
    EXPECT_EQ(sink.messages[0].icon, MsgIcon::Information);

    // The address alone needs no reopening; the write goes to the address the link has now.
    params.SetTyped(1, "247");
    ASSERT_EQ(params.Set(sink, reopen), WriteOutcome::Done);
    EXPECT_EQ(reopened.size(), 1u);
    EXPECT_EQ(port.Sent()[1], WithCrc(Hex("0C 10 01 F4 00 02 04 00 F7 00 02")));
    EXPECT_EQ(link.deviceAddress, 247);
    EXPECT_EQ(bus.ReadRegister(247, 500), 247);

    // Without a reopener a new rate cannot be followed: said so, and the link stays.
    params.SetTyped(2, "4800 ");
    sink.messages.clear();
    EXPECT_EQ(params.Set(sink), WriteOutcome::Failed);
    EXPECT_EQ(sink.messages.back().text,
              "The settings were written, but the port could not be opened at 4800 bps!");
    EXPECT_EQ(link.baudIndex, 2);
    EXPECT_FALSE(params.LinkMoved());
}

// A module not found at its new settings: the old ones are tried and the message says
// where it answers, if anywhere; the link is left where it does.
TEST_F(AddressBaudSettingsTest, AModuleNotFoundAtItsNewSettingsIsLookedForAtTheOldOnes) {
    ScriptedPort scripted(clock);
    scripted.Open();
    scripted.answerReads = true;
    scripted.regs[500] = 1;
    scripted.regs[501] = 1;
    link.port = &scripted;
    params.SetTyped(1, "12");
    scripted.replies = {Frame{}};  // silence at address 12, the answer at 1
    EXPECT_EQ(params.Set(sink), WriteOutcome::Failed);
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0].text,
              "The module did not take the new settings: it still answers at address 1, 9600 bps!");
    EXPECT_EQ(link.deviceAddress, 1);
    EXPECT_EQ(scripted.ReadRequests().size(), 2u);

    link.port = &port;
    bus.InjectFault(12, {BusFault::Kind::NoReply});  // it moved, and says nothing there
    params.SetTyped(1, "12");  // the read-back at 1 put the module's address back in the cell
    sink.messages.clear();
    EXPECT_EQ(params.Set(sink), WriteOutcome::Failed);
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0].text,
              "The module answers neither at address 12, 9600 bps nor at address 1, 9600 bps: Communication "
              "failed!");
    EXPECT_EQ(link.deviceAddress, 1);
    EXPECT_EQ(bus.ReadRegister(12, 500), 12);
}

}  // namespace
