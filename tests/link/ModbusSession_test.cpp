// Every exchange path of the session against a scripted port on the virtual clock.
#include "link/ModbusSession.h"

#include <gtest/gtest.h>

#include <memory>

#include "link/ConnectSequence.h"
#include "link/SerialPort.h"
#include "link/WallClock.h"
#if !defined(_WIN32)
#include "support/Pty.h"  // pseudo-terminals: POSIX only
#endif
#include "support/ScriptedPort.h"

namespace {

class ModbusSessionTest : public ::testing::Test {
protected:
    ModbusSessionTest() : port(clock) {
        port.Open();
        link.protocol = &rtu;
        link.port = &port;
        link.deviceAddress = 7;
    }
    VirtualClock clock;
    ScriptedPort port;
    CModbusRtu rtu;
    LinkState link;
    ModbusSession s{link, clock};
};

TEST_F(ModbusSessionTest, ReadWritesWaitsReadsAndChecks) {
    port.replies.push_back(RegistersReply(7, 3, 100));
    const auto regs = s.ReadRegisters(504, 3, 300);
    ASSERT_TRUE(regs);
    EXPECT_EQ(*regs, (RegisterValues{100, 101, 102}));
    EXPECT_EQ(port.writes.at(0), WithCrc({0x07, 0x03, 0x01, 0xF8, 0x00, 0x03}));
    EXPECT_EQ(port.readTimesMs.at(0) - port.writeTimesMs.at(0), 300);
    EXPECT_EQ(s.LastFailure(), ExchangeFailure::None);
}

// A reply is taken only when its byte count is exactly what was asked: fewer values were
// never sent, more belong to another request.
TEST_F(ModbusSessionTest, AByteCountOtherThanAskedFailsEverywhere) {
    port.replies.push_back(RegistersReply(7, 2));
    EXPECT_FALSE(s.ReadRegisters(0, 10, 200));
    EXPECT_EQ(s.LastFailure(), ExchangeFailure::ShortReply);

    ASSERT_TRUE(s.SendReadRegisters(10, 72));
    port.replies.push_back(RegistersReply(7, 71));
    EXPECT_FALSE(s.CollectRegisters(72));
    EXPECT_EQ(s.LastFailure(), ExchangeFailure::ShortReply);

    port.replies.push_back(WithCrc({0x07, 0x02, 0x00}));  // no data byte for two inputs
    EXPECT_FALSE(s.ReadInputs(0, 2, 200));
    EXPECT_EQ(s.LastFailure(), ExchangeFailure::ShortReply);
    port.replies.push_back(WithCrc({0x07, 0x01, 0x01, 0x02}));
    const auto coils = s.ReadCoils(0, 2, 200);
    ASSERT_TRUE(coils);
    EXPECT_EQ(*coils, (RegisterValues{0, 1}));  // least significant bit first, only what was asked

    port.replies.push_back(RegistersReply(7, 5, 9));
    EXPECT_FALSE(s.ReadRegisters(0, 2, 200));
    EXPECT_EQ(s.LastFailure(), ExchangeFailure::WrongLength);
    port.replies.push_back(WithCrc({0x07, 0x02, 0x02, 0x01, 0x00}));  // two bytes for eight inputs
    EXPECT_FALSE(s.ReadInputs(0, 8, 200));
    EXPECT_EQ(s.LastFailure(), ExchangeFailure::WrongLength);
}

TEST_F(ModbusSessionTest, TellsEachKindOfFailureApartAndNotesItOnTheLink) {
    ExchangeRecord record;
    link.lastExchange = &record;
    EXPECT_FALSE(s.ReadRegisters(0, 10, 200));
    EXPECT_EQ(s.LastFailure(), ExchangeFailure::NoReply);
    EXPECT_EQ(record.failure, ExchangeFailure::NoReply);

    Frame bad = RegistersReply(7, 10);
    bad.back() ^= 1;
    port.replies.push_back(bad);
    EXPECT_FALSE(s.ReadRegisters(0, 10, 200));
    EXPECT_EQ(s.LastFailure(), ExchangeFailure::BadCrc);

    // Cut short: the byte count announces more than arrived.
    port.replies.push_back(Frame(bad.begin(), bad.begin() + 12));
    EXPECT_FALSE(s.ReadRegisters(0, 10, 200));
    EXPECT_EQ(s.LastFailure(), ExchangeFailure::WrongLength);

    port.replies.push_back(Hex("07 04 06 00 01 00 02 00 03 97 32"));  // function 04, good CRC
    EXPECT_FALSE(s.ReadRegisters(0, 3, 200));
    EXPECT_EQ(s.LastFailure(), ExchangeFailure::WrongFunction);

    port.replies.push_back(Hex("07 83 02 20 F0"));
    EXPECT_FALSE(s.ReadRegisters(9999, 1, 200));
    EXPECT_EQ(s.LastFailure(), ExchangeFailure::Exception);
    EXPECT_EQ(FailureText(s.LastFailure(), 7, s.LastExceptionCode()), "Exception 2 from module 7");
    EXPECT_EQ(FailureText(record), "Exception 2 from module 7: illegal data address");

    // A refused write is an exception too, not a bad echo.
    const std::array<std::int32_t, 1> v{264};
    port.replies.push_back(Hex("07 90 04 AD C2"));
    EXPECT_FALSE(s.WriteRegistersConfirmed(0x2328, v, 300));
    EXPECT_EQ(FailureText(s.LastExchange()), "Exception 4 from module 7: server device failure");

    port.replies.push_back(Frame(300, 0xFF));  // noise announcing more than the buffer took
    EXPECT_FALSE(s.ReadRegisters(0, 125, 200));
    EXPECT_EQ(s.LastFailure(), ExchangeFailure::WrongLength);

    // A request that goes out clears nothing; a reply that passes does.
    ASSERT_TRUE(s.SendReadRegisters(0, 1));
    EXPECT_EQ(record.failure, ExchangeFailure::WrongLength);
    port.replies.push_back(RegistersReply(7, 1));
    EXPECT_TRUE(s.CollectRegisters(1));
    EXPECT_EQ(record.failure, ExchangeFailure::None);

    port.Close();
    const auto t0 = clock.nowMs();
    EXPECT_FALSE(s.ReadRegisters(0, 10, 300));
    EXPECT_EQ(s.LastFailure(), ExchangeFailure::NoLink);
    EXPECT_EQ(clock.nowMs() - t0, 300);  // the wait is kept: a handler's timing does not change
    link.protocol = nullptr;
    EXPECT_FALSE(s.ReadRegisters(0, 10, 0));
    EXPECT_EQ(FailureText(ExchangeFailure::NoReply, 1), "No reply from module 1");
}

#if !defined(_WIN32)
// The other end of the line goes away: the exchange says the port was lost, and why.
TEST(ModbusSessionPty, AVanishedPortIsItsOwnFailureWithTheSystemsReason) {
    auto pty = std::make_unique<Pty>();
    CSerialPort serial;
    ASSERT_TRUE(serial.Open(pty->path(), 9600, 8, 0, 0));
    VirtualClock clock;
    ExchangeRecord record;
    LinkState link;
    CModbusRtu rtu;
    link.protocol = &rtu;
    link.port = &serial;
    link.lastExchange = &record;
    ModbusSession s(link, clock);
    EXPECT_FALSE(s.ReadRegisters(0, 1, 200));
    EXPECT_EQ(s.LastFailure(), ExchangeFailure::NoReply);

    pty.reset();
    EXPECT_FALSE(s.ReadRegisters(0, 1, 200));
    EXPECT_EQ(s.LastFailure(), ExchangeFailure::PortLost);
    EXPECT_FALSE(s.Connected());
    EXPECT_EQ(FailureText(record), "Port lost: Input/output error");
}
#endif

TEST_F(ModbusSessionTest, WritesLeaveTheEchoUnlessConfirmed) {
    const std::array<std::int32_t, 3> v{32, 4660, 5};
    ASSERT_TRUE(s.WriteRegisters(0x2328, v, 300));
    EXPECT_EQ(port.writes.at(0), WithCrc(Hex("07 10 23 28 00 03 06 00 20 12 34 00 05")));
    EXPECT_EQ(clock.nowMs(), 300);
    EXPECT_TRUE(port.readTimesMs.empty());

    port.replies.push_back(WithCrc(Hex("07 10 23 28 00 03")));
    EXPECT_TRUE(s.WriteRegistersConfirmed(0x2328, v, 3000));
    EXPECT_FALSE(s.WriteRegistersConfirmed(0x2328, v, 3000));  // no echo this time
    EXPECT_EQ(s.LastFailure(), ExchangeFailure::NoReply);
    port.replies.push_back(ExceptionFrame(7, 0x10, 0x04));
    EXPECT_FALSE(s.WriteRegistersConfirmed(0x2328, v, 3000));
    EXPECT_EQ(s.LastFailure(), ExchangeFailure::Exception);
    EXPECT_EQ(s.LastExceptionCode(), 4);

    ASSERT_TRUE(s.WriteCoil(1, true, 200));
    EXPECT_EQ(port.writes.back(), WithCrc(Hex("07 05 00 01 FF 00")));
}

TEST_F(ModbusSessionTest, RawBytesForTheBootloader) {
    const Frame hello{'I', 'D', '0', '0', '0', '7'};
    EXPECT_EQ(s.Send(hello), 6);
    EXPECT_EQ(port.writes.back(), hello);
    port.replies.push_back({'C'});
    EXPECT_EQ(s.ReadAvailable(2), Frame{'C'});
    EXPECT_TRUE(s.ReadAvailable(2).empty());
    EXPECT_EQ(s.LastFailure(), ExchangeFailure::NoReply);
}

TEST(DeviceAddressText, OnlyOneTo247) {
    EXPECT_EQ(ParseDeviceAddress("5"), 5);
    EXPECT_EQ(ParseDeviceAddress(" 247 "), 247);
    for (const char* bad : {"", " ", "0", "248", "257", "-1", "5x", "1 2", "99999999999"})
        EXPECT_FALSE(ParseDeviceAddress(bad)) << bad;
}

TEST(WallClockText, ClockAndIsoTimes) {
    const LocalTime t{2026, 3, 9, 4, 5, 6, -330};
    EXPECT_EQ(FormatClockTime(t), "04:05:06");
    EXPECT_EQ(FormatIsoTime(t), "2026-03-09T04:05:06-05:30");
    EXPECT_EQ(FormatIsoTime(LocalTime{2026, 12, 31, 23, 59, 59, 60}), "2026-12-31T23:59:59+01:00");
}

}  // namespace
