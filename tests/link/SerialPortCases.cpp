// The serial port's cases that hold on every system, run against that system's peer.
#include "link/SerialPortCases.h"

#include <array>

namespace serial_cases {
namespace {

class SerialPortCase : public testing::Test {
protected:
    void SetUp() override {
        std::string whyNot;
        peer_ = MakeSerialPeer(whyNot);
        if (!peer_) GTEST_SKIP() << whyNot;
        a_ = peer_->PortA();
        b_ = peer_->PortB();
    }
    SerialPeer& peer() { return *peer_; }

    std::unique_ptr<SerialPeer> peer_;
    std::string a_;
    std::string b_;
};

// 300 baud makes every wait long (c = 34 ms, gap 102 ms, 6.8 s for 200 bytes), so "at
// once" cannot be mistaken for either.
TEST_F(SerialPortCase, ReadWithNothingWaitingReturnsAtOnceWithTheBufferZeroed) {
    CSerialPort port;
    ASSERT_TRUE(port.Open(a_, 300, 8, 0, 0));
    EXPECT_EQ(port.CharTimeMs(), 34);
    ASSERT_TRUE(peer().Quiet(port));
    std::array<std::uint8_t, 200> buf;
    buf.fill(0xAA);
    const auto t0 = SteadyClock::now();
    EXPECT_EQ(port.Read(buf), 0);
    EXPECT_LT(SteadyClock::now() - t0, Ms(50));
    for (auto b : buf) ASSERT_EQ(b, 0);
}

TEST_F(SerialPortCase, WriteSendsEveryByteAndAShortReplyLeavesTheRestZero) {
    CSerialPort port;
    ASSERT_TRUE(port.Open(a_, 19200, 8, 0, 0));
    EXPECT_EQ(port.CharTimeMs(), 1);
    Frame payload(300);
    unsigned sum = 0;
    for (std::size_t i = 0; i < payload.size(); ++i) sum += payload[i] = static_cast<std::uint8_t>(i * 7);
    ASSERT_EQ(peer().WriteCounted(port, payload), 300);
    std::array<std::uint8_t, 200> buf;
    buf.fill(0xAA);
    ASSERT_EQ(ReadWhenArrived(port, buf), 4);
    EXPECT_EQ(Frame(buf.begin(), buf.begin() + 4),
              (Frame{0x01, 0x2C, static_cast<std::uint8_t>(sum >> 8), static_cast<std::uint8_t>(sum)}));
    for (std::size_t i = 4; i < buf.size(); ++i) ASSERT_EQ(buf[i], 0) << i;
}

// At 1200 baud c = 9 ms and the gap that ends a reply is 27 ms.
TEST_F(SerialPortCase, AReplyInPiecesWithPausesBelowTheGapIsOneReply) {
    struct Case {
        std::uint8_t size;
        std::uint8_t everyMs;
        std::uint8_t pieces;
    };
    CSerialPort port;
    ASSERT_TRUE(port.Open(a_, 1200, 8, 0, 0));
    for (const Case c : {Case{1, 1, 50}, Case{10, 5, 6}}) {
        SCOPED_TRACE(testing::Message() << int{c.pieces} << " pieces of " << int{c.size} << " every "
                                        << int{c.everyMs} << " ms");
        peer().Stream(port, c.size, c.everyMs, c.pieces);
        std::array<std::uint8_t, 200> buf;
        const TimedRead r = ReadTimedWhenArrived(port, buf);
        const std::size_t whole = std::size_t{c.size} * c.pieces;
        ASSERT_EQ(r.got, static_cast<int>(whole));
        EXPECT_EQ(Frame(buf.begin(), buf.begin() + r.got), Counting(0, whole));
        EXPECT_GE(r.took, Ms(27));  // fewer bytes than asked: it ends only after a gap of silence
    }
}

TEST_F(SerialPortCase, APauseAboveTheGapEndsTheReplyAndTheRestWaitsForTheNextRead) {
    CSerialPort port;
    ASSERT_TRUE(port.Open(a_, 1200, 8, 0, 0));
    peer().Stream(port, 10, 150, 2);
    std::array<std::uint8_t, 200> buf;
    const TimedRead first = ReadTimedWhenArrived(port, buf);
    ASSERT_EQ(first.got, 10);
    EXPECT_EQ(Frame(buf.begin(), buf.begin() + 10), Counting(0, 10));
    EXPECT_LT(first.took, Ms(120)) << AsMs(first.took);  // the gap ended it, not the 1.8 s bound
    const TimedRead second = ReadTimedWhenArrived(port, buf);
    ASSERT_EQ(second.got, 10);
    EXPECT_EQ(Frame(buf.begin(), buf.begin() + 10), Counting(10, 10));
}

// 300 baud: c = 34 ms, gap 102 ms. A byte every 40 ms never leaves a gap and never fills 30
// bytes within the 30 x 34 = 1020 ms bound, so only that bound can end the Read.
TEST_F(SerialPortCase, APeerThatNeverStopsIsCutAtTheTotalBound) {
    CSerialPort port;
    ASSERT_TRUE(port.Open(a_, 300, 8, 0, 0));
    peer().Stream(port, 1, 40, 0);
    std::array<std::uint8_t, 30> buf;
    const TimedRead r = ReadTimedWhenArrived(port, buf);
    EXPECT_GE(r.took, Ms(1020) - peer().EarlyBy()) << AsMs(r.took);
    EXPECT_LT(r.took, Ms(1020 + 300)) << AsMs(r.took);
    EXPECT_GT(r.got, 10);
    EXPECT_LT(r.got, 30);
    EXPECT_EQ(Frame(buf.begin(), buf.begin() + r.got), Counting(0, static_cast<std::size_t>(r.got)));
    EXPECT_TRUE(peer().Quiet(port));
}

TEST_F(SerialPortCase, SameNameReconfiguresAndOtherNameSwitchesOnlyWhenItOpens) {
    CSerialPort port;
    ASSERT_TRUE(port.Open(a_, 9600, 8, 0, 0));
    EXPECT_EQ(port.CharTimeMs(), 2);
    ASSERT_TRUE(port.Open(a_, 4800, 8, 0, 0));  // same name: kept, new settings
    EXPECT_EQ(port.CharTimeMs(), 3);
    EXPECT_EQ(port.Name(), a_);
    EXPECT_TRUE(peer().Reaches(port, a_));

    EXPECT_FALSE(port.Open(peer().MissingName(), 9600, 8, 0, 0));
    EXPECT_EQ(port.LastOpenError(), CSerialPort::OpenError::NoSuchFile);
    EXPECT_TRUE(port.IsOpen());
    EXPECT_EQ(port.Name(), a_);
    EXPECT_EQ(port.CharTimeMs(), 3);
    EXPECT_TRUE(peer().Reaches(port, a_));

    ASSERT_TRUE(port.Open(b_, 9600, 8, 2, 2));
    EXPECT_EQ(port.Name(), b_);
    EXPECT_EQ(port.LastOpenError(), CSerialPort::OpenError::None);
    EXPECT_TRUE(peer().Reaches(port, b_));
}

TEST_F(SerialPortCase, ClosedPortDoesNothingAndReopensByItsFormerName) {
    CSerialPort port;
    std::array<std::uint8_t, 10> buf;
    buf.fill(7);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.Write(std::span<const std::uint8_t>(buf)), 0);
    EXPECT_EQ(port.Read(buf), 0);
    EXPECT_EQ(buf[0], 0);  // zero-filled even while closed
    ASSERT_TRUE(port.Open(a_, 9600, 8, 0, 0));
    port.Close();
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.Name(), "");
    EXPECT_EQ(port.Write(std::span<const std::uint8_t>(buf)), 0);
    EXPECT_TRUE(port.Open(a_, 9600, 8, 0, 0));
    EXPECT_TRUE(port.IsOpen());
}

// Each reason the command-line tool can print; the old port stays open through them all.
TEST_F(SerialPortCase, EachFailedOpenSaysWhy) {
    CSerialPort port;
    ASSERT_TRUE(port.Open(a_, 9600, 8, 0, 0));
    for (const auto& c : peer().FailedOpens()) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(port.Open(c.name, c.baud, 8, 0, 0));
        EXPECT_EQ(port.LastOpenError(), c.error);
        if (c.text != nullptr) {
            EXPECT_EQ(port.OpenFailureText(), c.text);
        } else {
            // The system's words, on one line.
            const std::string why = port.OpenFailureText();
            EXPECT_FALSE(why.empty());
            EXPECT_EQ(why.find_first_of("\r\n"), std::string::npos) << why;
        }
        EXPECT_EQ(port.Name(), a_);
    }
}

}  // namespace
}  // namespace serial_cases
