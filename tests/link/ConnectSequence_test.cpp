#include "link/ConnectSequence.h"

#include <gtest/gtest.h>

#include <deque>
#include <vector>

#include "support/RecordingSink.h"
#include "support/ScriptedPort.h"

namespace {

class ConnectSequenceTest : public ::testing::Test {
protected:
    ConnectSequenceTest()
        : port(clock),
          seq(
              link, port,
              [this](const std::string& n, int b, int d, int p, int s) { return port.Open(n, b, d, p, s); },
              sink, clock) {
        link.protocol = &rtu;
        link.port = &port;
    }
    CommSettings Settings(int addr, const std::string& name, int baudIndex = 1) {
        CommSettings s;
        s.deviceAddress = addr;
        s.port = name;
        s.baudIndex = baudIndex;
        return s;
    }

    VirtualClock clock;
    CModbusRtu rtu;
    LinkState link;
    ScriptedPort port;
    RecordingSink sink;
    ConnectSequence seq;
};

TEST_F(ConnectSequenceTest, ProbeOfAddressFiveAndTheStatusText) {
    port.replies.push_back(ProbeReply(5));
    const auto s = Settings(5, "COM1");
    ASSERT_TRUE(seq.RunConnectButton(s));
    ASSERT_EQ(port.writes.size(), 1u);
    EXPECT_EQ(port.writes[0], (Frame{0x05, 0x03, 0x00, 0x00, 0x00, 0x0A, 0xC4, 0x49}));
    // The reply is read 200 ms after the request.
    EXPECT_EQ(port.readTimesMs[0] - port.writeTimesMs[0], 200);
    EXPECT_EQ(port.opens[0].baud, 9600);
    EXPECT_EQ(port.opens[0].dataBits, 8);
    EXPECT_EQ(seq.LinkDescription(), "COM1 9600bps ");
    EXPECT_EQ(seq.FinishDialog(true, s), std::optional<std::string>("\t[ Device ID : 5 ] COM1 9600bps "));
    EXPECT_EQ(link.deviceAddress, 5);
    EXPECT_TRUE(sink.messages.empty());
}

TEST_F(ConnectSequenceTest, CannotOpenOffersRetryThenCancelKeepsTheDialogOpen) {
    port.openResults = {false, false};
    sink.answers = {MsgResult::Retry, MsgResult::Cancel};
    EXPECT_FALSE(seq.RunConnectButton(Settings(1, "/dev/ttyUSB7")));
    ASSERT_EQ(sink.messages.size(), 2u);
    EXPECT_EQ(sink.messages[0].text, "Cannot open/dev/ttyUSB7!");
    EXPECT_EQ(sink.messages[0].caption, "Error");
    EXPECT_EQ(sink.messages[0].icon, MsgIcon::Exclamation);
    EXPECT_EQ(sink.messages[0].buttons, MsgButtons::RetryCancel);
    EXPECT_EQ(port.opens.size(), 2u);
    EXPECT_EQ(port.closes, 2);  // every pass of the loop closes first
    EXPECT_TRUE(port.writes.empty());
}

TEST_F(ConnectSequenceTest, RetryAfterCommunicationFailedProbesAgainOnTheOpenPort) {
    sink.answers = {MsgResult::Retry};
    port.replies.push_back(Frame{});  // nothing the first time
    port.replies.push_back(ProbeReply(1));
    // The first read finds an empty frame: the check fails, the user retries.
    EXPECT_TRUE(seq.RunConnectButton(Settings(1, "COM2", 2)));
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0].text, "Communication failed!");
    EXPECT_EQ(sink.messages[0].caption, "Error");
    EXPECT_EQ(port.opens.size(), 1u);
    EXPECT_EQ(port.writes.size(), 2u);
    EXPECT_EQ(seq.LinkDescription(), "COM2 19200bps ");
}

TEST_F(ConnectSequenceTest, CancelAfterCommunicationFailedLeavesPortOpenAndOldAddress) {
    link.deviceAddress = 3;
    sink.answers = {MsgResult::Cancel};
    const auto s = Settings(9, "COM3");
    EXPECT_FALSE(seq.RunConnectButton(s));
    EXPECT_TRUE(port.IsOpen());
    EXPECT_EQ(seq.FinishDialog(false, s), std::nullopt);
    EXPECT_EQ(link.deviceAddress, 3);
    EXPECT_EQ(StopLink(link), std::optional<std::string>("\tNo Connection"));
    EXPECT_FALSE(port.IsOpen());
}

TEST_F(ConnectSequenceTest, OnlyTheLowEightBitsOfTheAddressReachTheFrame) {
    port.replies.push_back(ProbeReply(1));
    ASSERT_TRUE(seq.RunConnectButton(Settings(257, "COM1")));
    EXPECT_EQ(port.writes[0][0], 1);
    EXPECT_EQ(seq.FinishDialog(true, Settings(257, "COM1")),
              std::optional<std::string>("\t[ Device ID : 257 ] COM1 9600bps "));
}

TEST(ConnectTexts, Formats) {
    EXPECT_EQ(CannotOpenText("COM1"), "Cannot openCOM1!");
    EXPECT_EQ(LinkDescriptionText("/dev/pts/3", 0), "/dev/pts/3 4800bps ");
    EXPECT_EQ(ConnectedStatusText(5, "/dev/pts/3 9600bps "), "\t[ Device ID : 5 ] /dev/pts/3 9600bps ");
    EXPECT_STREQ(kNoConnectionStatus, "\tNo Connection");
}

}  // namespace

// A name the resolver maps elsewhere (a network address) is probed, and kept as the
// link's port, on the port it names; the dialog's own port is closed, not used.
TEST_F(ConnectSequenceTest, ResolvedPortCarriesTheLink) {
    ScriptedPort network(clock);
    network.replies.push_back(ProbeReply(1));
    const auto s = Settings(1, "tcp://10.0.0.7:4001");
    ConnectSequence viaNetwork(
        link, port,
        [&](const std::string& n, int b, int d, int p, int st) { return network.Open(n, b, d, p, st); }, sink,
        clock);
    viaNetwork.SetPortResolver([&](const std::string& name) -> CCommPort& {
        return name.starts_with("tcp://") ? static_cast<CCommPort&>(network) : port;
    });
    ASSERT_TRUE(viaNetwork.RunConnectButton(s));
    EXPECT_EQ(link.port, &network);
    EXPECT_EQ(network.writes.size(), 1u);
    EXPECT_TRUE(port.writes.empty());
    EXPECT_EQ(port.closes, 1);
    EXPECT_EQ(viaNetwork.FinishDialog(true, s),
              std::optional<std::string>("\t[ Device ID : 1 ] tcp://10.0.0.7:4001 9600bps "));
}
