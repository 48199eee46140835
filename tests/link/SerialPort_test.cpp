#include "link/SerialPort.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <thread>

#include "support/Pty.h"

namespace {

using Frame = std::vector<std::uint8_t>;

// Bytes written to the master reach the slave's queue a moment later: poll with a bound.
int ReadWhenArrived(CSerialPort& port, std::span<std::uint8_t> buf) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    int got = 0;
    while (got == 0 && std::chrono::steady_clock::now() < until) {
        got = port.Read(buf);
        if (got == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return got;
}

TEST(SerialPort, ReadWithNothingWaitingReturnsAtOnceWithTheBufferZeroed) {
    Pty pty;
    ASSERT_TRUE(pty.ok());
    CSerialPort port;
    ASSERT_TRUE(port.Open(pty.path(), 9600, 8, 0, 0));
    std::array<std::uint8_t, 200> buf;
    buf.fill(0xAA);
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(port.Read(buf), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(50));
    for (auto b : buf) ASSERT_EQ(b, 0);
}

TEST(SerialPort, ShortReplyReadWithLengthTwoHundredLeavesTheRestZero) {
    Pty pty;
    CSerialPort port;
    ASSERT_TRUE(port.Open(pty.path(), 9600, 8, 0, 0));
    const Frame reply{0x01, 0x05, 0x00, 0x00, 0xFF, 0x00, 0x8C, 0x3A};
    pty.Send(reply);
    std::array<std::uint8_t, 200> buf;
    buf.fill(0xAA);
    ASSERT_EQ(ReadWhenArrived(port, buf), 8);
    EXPECT_EQ(Frame(buf.begin(), buf.begin() + 8), reply);
    for (std::size_t i = 8; i < buf.size(); ++i) ASSERT_EQ(buf[i], 0) << i;
}

TEST(SerialPort, WritePurgesAnUnreadReplyAndSendsEveryByte) {
    Pty pty;
    CSerialPort port;
    ASSERT_TRUE(port.Open(pty.path(), 19200, 8, 0, 0));
    EXPECT_EQ(port.CharTimeMs(), 1);
    pty.Send({1, 2, 3});
    {
        // Let the stale bytes arrive, then put them back unread by sending them again.
        std::array<std::uint8_t, 3> seen{};
        ASSERT_GT(ReadWhenArrived(port, seen), 0);
        pty.Send({1, 2, 3});
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(50);
        while (std::chrono::steady_clock::now() < until) std::this_thread::yield();
    }
    Frame request(300);
    for (std::size_t i = 0; i < request.size(); ++i) request[i] = static_cast<std::uint8_t>(i);
    EXPECT_EQ(port.Write(request), 300);
    EXPECT_EQ(pty.Receive(300), request);
    std::array<std::uint8_t, 16> buf{};
    EXPECT_EQ(port.Read(buf), 0);  // the stale bytes are gone
}

TEST(SerialPort, SameNameReconfiguresAndOtherNameSwitchesOnlyWhenItOpens) {
    Pty a;
    Pty b;
    CSerialPort port;
    ASSERT_TRUE(port.Open(a.path(), 9600, 8, 0, 0));
    EXPECT_EQ(port.CharTimeMs(), 2);
    ASSERT_TRUE(port.Open(a.path(), 4800, 8, 0, 0));  // same name: kept, new settings
    EXPECT_EQ(port.CharTimeMs(), 3);
    EXPECT_EQ(port.Name(), a.path());

    EXPECT_FALSE(port.Open("/dev/no-such-serial-port", 9600, 8, 0, 0));
    EXPECT_TRUE(port.IsOpen());
    EXPECT_EQ(port.Name(), a.path());
    const Frame ping{0x42};
    EXPECT_EQ(port.Write(ping), 1);
    EXPECT_EQ(a.Receive(1), ping);

    ASSERT_TRUE(port.Open(b.path(), 9600, 8, 2, 2));
    EXPECT_EQ(port.Name(), b.path());
    EXPECT_EQ(port.Write(ping), 1);
    EXPECT_EQ(b.Receive(1), ping);
}

TEST(SerialPort, ClosedPortDoesNothingAndReopensByItsFormerName) {
    Pty pty;
    CSerialPort port;
    std::array<std::uint8_t, 10> buf;
    buf.fill(7);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.Write(std::span<const std::uint8_t>(buf)), 0);
    EXPECT_EQ(port.Read(buf), 0);
    EXPECT_EQ(buf[0], 0);  // zero-filled even while closed
    ASSERT_TRUE(port.Open(pty.path(), 9600, 8, 0, 0));
    port.Close();
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.Name(), "");
    EXPECT_TRUE(port.Open(pty.path(), 9600, 8, 0, 0));
    EXPECT_TRUE(port.IsOpen());
}

TEST(SerialPort, ASecondOpenOfAPortInUseIsRefused) {
    Pty pty;
    CSerialPort first;
    CSerialPort second;
    ASSERT_TRUE(first.Open(pty.path(), 9600, 8, 0, 0));
    EXPECT_FALSE(second.Open(pty.path(), 9600, 8, 0, 0));
    first.Close();
    EXPECT_TRUE(second.Open(pty.path(), 9600, 8, 0, 0));
}

TEST(SerialPort, RefusesWhatCannotBeAPort) {
    CSerialPort port;
    EXPECT_FALSE(port.Open("", 9600, 8, 0, 0));
    EXPECT_FALSE(port.Open("/dev/null", 9600, 8, 0, 0));  // not a terminal
    Pty pty;
    EXPECT_FALSE(port.Open(pty.path(), 0, 8, 0, 0));  // the character time divides by the rate
    EXPECT_FALSE(port.IsOpen());
}

}  // namespace
