// The image sender: packets byte for byte (CRCs from an independent generator), the polls
// and their time-outs on the virtual clock.
#include <gtest/gtest.h>

#include <array>

#include "support/ScriptedPort.h"
#include "update/YmodemSender.h"

namespace {

const Frame kAck{YmodemSender::kAck};
const Frame kNak{0x15};
const std::string kName = "/tmp/fw.bin";

// The image the golden CRCs below were computed for: byte i is (7i + 3) mod 256.
std::vector<std::uint8_t> Pattern(std::size_t n) {
    std::vector<std::uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<std::uint8_t>((i * 7 + 3) % 256);
    return v;
}

Frame Header(const std::string& name, const std::string& size, std::uint16_t crc) {
    Frame f{0x01, 0x00, 0xFF};
    f.reserve(133);  // GCC 12 misjudges a growing insert into a vector of three
    f.insert(f.end(), name.begin(), name.end());
    f.push_back(0);
    f.insert(f.end(), size.begin(), size.end());
    f.resize(131, 0);
    f.push_back(static_cast<std::uint8_t>(crc >> 8));
    f.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    return f;
}

Frame Block(std::uint8_t number, std::span<const std::uint8_t> data, std::uint16_t crc) {
    Frame f{0x02, number, static_cast<std::uint8_t>(~number)};
    f.reserve(1029);
    f.insert(f.end(), data.begin(), data.end());
    f.resize(1027, 0x1A);
    f.push_back(static_cast<std::uint8_t>(crc >> 8));
    f.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    return f;
}

const Frame kEotFrame{0x04};
const Frame kClosing = Header("", "", 0xF00A);  // SOH 00 FF, 128 zero bytes: no name, no size

class SenderTest : public ::testing::Test {
protected:
    SenderTest() : port(clock) {
        port.Open();
        link.protocol = &rtu;
        link.port = &port;
    }
    std::uint8_t Send(const std::vector<std::uint8_t>& image, const std::string& name = kName) {
        YmodemSender sender(link, clock);
        sender.SetProgressObserver([this](std::uint32_t p) { progressSeen.push_back(p); });
        return sender.Transmit(image, name, progress);
    }
    void AckEach(std::size_t packets) {
        for (std::size_t i = 0; i < packets; ++i) port.replies.push_back(kAck);
    }

    VirtualClock clock;
    ScriptedPort port;
    CModbusRtu rtu;
    LinkState link;
    std::atomic<std::uint32_t> progress{0};
    std::vector<std::uint32_t> progressSeen;
};

}  // namespace

TEST(YmodemSenderCrc, IsCcittFalse) {
    const std::string digits = "123456789";
    EXPECT_EQ(YmodemSender::Crc16({reinterpret_cast<const std::uint8_t*>(digits.data()), digits.size()}),
              0x29B1);
    EXPECT_EQ(YmodemSender::Crc16({}), 0xFFFF);
}

TEST(YmodemSenderDecimal, TenPlacesLeadingZerosDroppedZeroEmpty) {
    std::array<char, 11> text{};
    EXPECT_EQ(YmodemSender::IntToDecimal(text, 0), 0u);
    EXPECT_STREQ(text.data(), "");
    EXPECT_EQ(YmodemSender::IntToDecimal(text, 61440), 5u);
    EXPECT_STREQ(text.data(), "61440");
    EXPECT_EQ(YmodemSender::IntToDecimal(text, 1000000000u), 10u);
    EXPECT_STREQ(text.data(), "1000000000");
    EXPECT_EQ(YmodemSender::IntToDecimal(text, 4294967295u), 10u);
    EXPECT_STREQ(text.data(), "4294967295");
}

TEST(YmodemSenderHeader, NameSizeAndTheRoomLeft) {
    std::array<std::uint8_t, 1029> packet{};
    packet.fill(0xEE);
    ASSERT_TRUE(YmodemSender::PrepareInitialPacket(packet, kName, 1025));
    const Frame expected = Header(kName, "1025", 0);
    EXPECT_EQ(Frame(packet.begin(), packet.begin() + 131), Frame(expected.begin(), expected.begin() + 131));
    EXPECT_EQ(packet[131], 0xEE);  // the CRC is the sender's business

    // Name, its zero, ten digits and one zero after them: 126 + 2 bytes of 128.
    const std::string longest(116, 'a');
    EXPECT_TRUE(YmodemSender::FitsInitialPacket(longest, 4000000000u));
    EXPECT_FALSE(YmodemSender::FitsInitialPacket(longest + "a", 4000000000u));
    EXPECT_TRUE(YmodemSender::FitsInitialPacket(longest + "a", 999999999u));
    EXPECT_FALSE(YmodemSender::FitsInitialPacket(std::string(256, 'a'), 0));
    packet.fill(0xEE);
    EXPECT_FALSE(YmodemSender::PrepareInitialPacket(packet, longest + "a", 4000000000u));
    EXPECT_EQ(packet[0], 0xEE);
}

TEST_F(SenderTest, ImageOfOneWholeBlockGoesWithoutPadding) {
    const auto image = Pattern(1024);
    AckEach(4);
    EXPECT_EQ(Send(image), YmodemSender::kDelivered);
    ASSERT_EQ(port.writes.size(), 4u);
    EXPECT_EQ(port.writes[0], Header(kName, "1024", 0x75FA));
    EXPECT_EQ(port.writes[1], Block(1, image, 0xCC8D));
    EXPECT_EQ(port.writes[2], kEotFrame);
    EXPECT_EQ(port.writes[3], kClosing);
    EXPECT_EQ(progressSeen, (std::vector<std::uint32_t>{0}));
}

TEST_F(SenderTest, OneByteMoreMakesASecondBlockPaddedWith1A) {
    const auto image = Pattern(1025);
    AckEach(5);
    EXPECT_EQ(Send(image), YmodemSender::kDelivered);
    ASSERT_EQ(port.writes.size(), 5u);
    EXPECT_EQ(port.writes[0], Header(kName, "1025", 0x36BD));
    EXPECT_EQ(port.writes[1], Block(1, std::span(image).first(1024), 0xCC8D));
    EXPECT_EQ(port.writes[1][2], 0xFE);
    EXPECT_EQ(port.writes[2], Block(2, std::span(image).subspan(1024), 0xEB79));
    EXPECT_EQ(port.writes[2][2], 0xFD);
    EXPECT_EQ(port.writes[2][4], 0x1A);
    EXPECT_EQ(progressSeen, (std::vector<std::uint32_t>{0, 1024}));
}

TEST_F(SenderTest, EmptyImageHasAnEmptySizeFieldAndNoDataBlock) {
    AckEach(3);
    EXPECT_EQ(Send({}), YmodemSender::kDelivered);
    ASSERT_EQ(port.writes.size(), 3u);
    EXPECT_EQ(port.writes[0], Header(kName, "", 0xD55B));
    EXPECT_EQ(port.writes[1], kEotFrame);
    EXPECT_EQ(port.writes[2], kClosing);
    EXPECT_TRUE(progressSeen.empty());
}

TEST_F(SenderTest, BlockNumbersWrapAt256AndTheProgressCountsEveryBlock) {
    const auto image = Pattern(258 * 1024 - 100);
    AckEach(258 + 3);
    EXPECT_EQ(Send(image), YmodemSender::kDelivered);
    ASSERT_EQ(port.writes.size(), 258u + 3u);
    for (std::size_t b = 1; b <= 258; ++b) {
        const Frame& f = port.writes[b];
        ASSERT_EQ(f.size(), 1029u);
        EXPECT_EQ(f[1], static_cast<std::uint8_t>(b & 0xFF)) << b;
        EXPECT_EQ(f[2], static_cast<std::uint8_t>(~b & 0xFF)) << b;
        const auto data = std::span(image).subspan(
            (b - 1) * 1024, std::min<std::size_t>(1024, image.size() - (b - 1) * 1024));
        EXPECT_TRUE(std::equal(data.begin(), data.end(), f.begin() + 3)) << b;
        EXPECT_EQ(progressSeen.at(b - 1), (b - 1) * 1024) << b;
    }
    EXPECT_EQ(port.writes[256][1], 0x00);
    EXPECT_EQ(port.writes[256][2], 0xFF);
    const std::uint16_t lastCrc = YmodemSender::Crc16(std::span(port.writes[258]).subspan(3, 1024));
    EXPECT_EQ(port.writes[258][1027], lastCrc >> 8);
    EXPECT_EQ(port.writes[258][1028], lastCrc & 0xFF);
    EXPECT_EQ(progress.load(), 257u * 1024u);  // set before the last block, not after it
}

TEST_F(SenderTest, PollsEvery200MsAfterASettleForTheHeaderAnd3MsForTheClosingBlock) {
    port.replies = {Frame{}, kAck, Frame{}, Frame{}, kAck, kAck, Frame{}, Frame{}, kAck};
    EXPECT_EQ(Send(Pattern(10)), YmodemSender::kDelivered);
    // Header at 0, 200 ms settle, two polls; the block at 600 and three polls; EOT at 1200
    // and one poll; the closing block at 1400 and three 3 ms polls.
    EXPECT_EQ(port.writeTimesMs, (std::vector<std::int64_t>{0, 600, 1200, 1400}));
    EXPECT_EQ(port.readTimesMs, (std::vector<std::int64_t>{600, 1200, 1400, 1409}));
    EXPECT_EQ(clock.nowMs(), 1409);
}

TEST_F(SenderTest, NakIsNoAnswerAndTheBlockGoesAgainAfterAThousandPolls) {
    port.replies.push_back(kAck);  // header
    port.replies.push_back(kNak);
    for (int i = 0; i < 999; ++i) port.replies.push_back(Frame{});
    port.replies.push_back(Frame{0x18, 0x06});  // CAN then ACK: the first byte counts
    AckEach(3);                                 // the resent block, EOT, closing
    EXPECT_EQ(Send(Pattern(100)), YmodemSender::kDelivered);
    ASSERT_EQ(port.writes.size(), 5u);
    EXPECT_EQ(port.writes[1], port.writes[2]);
    EXPECT_EQ(port.writeTimesMs[2] - port.writeTimesMs[1], 1000 * 200);
}

TEST_F(SenderTest, EveryPacketGoesTwiceAtMostThenTheTransferFails) {
    // Header unanswered: two sendings of 200 ms settle + 1000 polls of 200 ms.
    EXPECT_EQ(Send(Pattern(100)), YmodemSender::kNoAcknowledge);
    EXPECT_EQ(port.writes.size(), 2u);
    EXPECT_EQ(clock.nowMs(), 2 * (200 + 1000 * 200));

    // The closing block unanswered: twice, 1000 polls of 3 ms each.
    port.writes.clear();
    port.replies = {kAck, kAck, kAck};
    const std::int64_t start = clock.nowMs();
    EXPECT_EQ(Send(Pattern(100)), YmodemSender::kNoAcknowledge);
    ASSERT_EQ(port.writes.size(), 5u);
    EXPECT_EQ(port.writes[3], kClosing);
    EXPECT_EQ(port.writes[4], kClosing);
    EXPECT_EQ(clock.nowMs() - start, 200 + 200 + 200 + 200 + 2 * 1000 * 3);
}

TEST_F(SenderTest, AClosedPortEndsTheTransferAtOnce) {
    port.Close();
    EXPECT_EQ(Send(Pattern(5000)), YmodemSender::kNoAcknowledge);
    EXPECT_TRUE(port.writes.empty());
    EXPECT_EQ(clock.nowMs(), 0);
}

TEST_F(SenderTest, ANameThatDoesNotFitSendsNothing) {
    EXPECT_EQ(Send(Pattern(100), std::string(200, 'x')), YmodemSender::kRefused);
    EXPECT_TRUE(port.writes.empty());
    // A zero byte ends the name, as the zero-terminated text it stands for.
    AckEach(4);
    EXPECT_EQ(Send(Pattern(1024), kName + std::string(1, '\0') + std::string(200, 'x')),
              YmodemSender::kDelivered);
    EXPECT_EQ(port.writes.at(0), Header(kName, "1024", 0x75FA));
}
