#include "link/ModbusRtu.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "support/Frames.h"

namespace {

Frame Built(int len, const std::array<std::uint8_t, 300>& buf) {
    return Frame(buf.begin(), buf.begin() + len);
}

const CModbusRtu rtu;

TEST(ModbusRtuBuild, ReadRequestsAreEightBytesWithCrcLowFirst) {
    std::array<std::uint8_t, 300> buf{};
    int n = rtu.BuildReadRegisters(buf, 1, 0, 10);
    EXPECT_EQ(Built(n, buf), Hex("01 03 00 00 00 0A C5 CD"));

    n = rtu.BuildReadInputs(buf, 1, 0, 2);
    EXPECT_EQ(Built(n, buf), WithCrc(Hex("01 02 00 00 00 02")));
    n = rtu.BuildReadCoils(buf, 0x105, 0x1234, 0x0102);  // only the low 8 bits of the address count
    EXPECT_EQ(Built(n, buf), WithCrc(Hex("05 01 12 34 01 02")));
    n = rtu.BuildRead46(buf, 7, 9, 3);
    EXPECT_EQ(Built(n, buf), WithCrc(Hex("07 46 00 09 00 03")));
}

TEST(ModbusRtuBuild, WriteCoilOnAndOff) {
    std::array<std::uint8_t, 300> buf{};
    EXPECT_EQ(Built(rtu.BuildWriteCoil(buf, 1, 0, 1), buf), Hex("01 05 00 00 FF 00 8C 3A"));
    EXPECT_EQ(Built(rtu.BuildWriteCoil(buf, 1, 0, -7), buf), Hex("01 05 00 00 FF 00 8C 3A"));
    EXPECT_EQ(Built(rtu.BuildWriteCoil(buf, 1, 1, 0), buf), WithCrc(Hex("01 05 00 01 00 00")));
}

TEST(ModbusRtuBuild, WriteRegistersLayouts) {
    std::array<std::uint8_t, 300> buf{};
    const std::array<std::int32_t, 3> v{32, 4660, 5};
    int n = rtu.BuildWriteRegisters(buf, 1, 0x2328, 3, v);
    EXPECT_EQ(n, 15);
    EXPECT_EQ(Built(n, buf), Hex("01 10 23 28 00 03 06 00 20 12 34 00 05 C7 F6"));

    n = rtu.BuildWrite47(buf, 1, 0x2328, 3, v);
    EXPECT_EQ(Built(n, buf), WithCrc(Hex("01 47 23 28 00 03 06 00 20 12 34 00 05")));

    // Only the first value high byte first, the others low byte first.
    n = rtu.BuildWriteRegistersMixed(buf, 1, 0x2328, 3, v);
    EXPECT_EQ(Built(n, buf), WithCrc(Hex("01 10 23 28 00 03 06 00 20 34 12 05 00")));

    // Values use their low 16 bits only; a negative value goes as two's complement.
    const std::array<std::int32_t, 2> w{-1, 0x12345678};
    n = rtu.BuildWriteRegisters(buf, 2, 504, 2, w);
    EXPECT_EQ(Built(n, buf), WithCrc(Hex("02 10 01 F8 00 02 04 FF FF 56 78")));
}

TEST(ModbusRtuBuild, ByteCountIsTheDoubledLowByteOfTheCount) {
    std::vector<std::int32_t> values(200, 0);
    std::array<std::uint8_t, 500> big{};
    const int n = rtu.BuildWriteRegisters(big, 1, 0, 130, values);
    EXPECT_EQ(n, 9 + 260);
    EXPECT_EQ(big[6], (130 * 2) & 0xFF);
}

TEST(ModbusRtuBuild, RefusesBuffersTooSmallOrTooFewValues) {
    std::array<std::uint8_t, 7> small{};
    EXPECT_EQ(rtu.BuildReadRegisters(small, 1, 0, 10), 0);
    std::array<std::uint8_t, 14> almost{};
    const std::array<std::int32_t, 3> v{1, 2, 3};
    EXPECT_EQ(rtu.BuildWriteRegisters(almost, 1, 0, 3, v), 0);
    std::array<std::uint8_t, 300> buf{};
    EXPECT_EQ(rtu.BuildWriteRegisters(buf, 1, 0, 4, v), 0);
    EXPECT_EQ(rtu.BuildWriteRegisters(buf, 1, 0, -1, v), 0);
}

TEST(ModbusRtuCrc, KnownValues) {
    EXPECT_EQ(Crc16Modbus({}), 0xFFFF);
    const Frame ascii = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(Crc16Modbus(ascii), 0x4B37);  // the CRC-16/MODBUS check value
}

TEST(ModbusRtuCheck, RegisterReplyDecodesUnsignedHighByteFirst) {
    const Frame rx = WithCrc(Hex("01 03 06 55 F0 FF FF 00 01"));
    std::array<std::int32_t, 4> regs{-9, -9, -9, -9};
    ASSERT_TRUE(rtu.CheckReadRegistersReply(rx, regs));
    EXPECT_EQ(regs[0], 22000);
    EXPECT_EQ(regs[1], 65535);
    EXPECT_EQ(regs[2], 1);
    EXPECT_EQ(regs[3], -9);  // nothing written past n/2
}

TEST(ModbusRtuCheck, WhatPassesAndWhatFails) {
    std::array<std::int32_t, 130> regs{};
    // Byte count 0 with a correct CRC passes and writes nothing.
    regs[0] = 77;
    EXPECT_TRUE(rtu.CheckReadRegistersReply(WithCrc(Hex("01 03 00")), regs));
    EXPECT_EQ(regs[0], 77);
    // The address in byte 0 is not compared.
    EXPECT_TRUE(rtu.CheckReadRegistersReply(WithCrc(Hex("09 03 02 00 05")), regs));
    // An exception reply fails on its function code.
    EXPECT_FALSE(rtu.CheckReadRegistersReply(WithCrc(Hex("01 83 02")), regs));
    // So does a whole, well-formed reply of another function: both frames written out by hand
    // with their CRC, so the check cannot pass or fail on our own CRC code alone.
    EXPECT_TRUE(rtu.CheckReadRegistersReply(Hex("01 03 04 00 0A 00 0B 9B F6"), regs));
    EXPECT_FALSE(rtu.CheckReadRegistersReply(Hex("01 04 04 00 0A 00 0B 9A 41"), regs));
    // One flipped bit fails the CRC.
    Frame bad = WithCrc(Hex("01 03 02 00 05"));
    bad[4] ^= 0x01;
    EXPECT_FALSE(rtu.CheckReadRegistersReply(bad, regs));
    // An odd byte count decodes n/2 registers, rounded down.
    regs.fill(-1);
    EXPECT_TRUE(rtu.CheckReadRegistersReply(WithCrc(Hex("01 03 03 00 05 09")), regs));
    EXPECT_EQ(regs[0], 5);
    EXPECT_EQ(regs[1], -1);
}

TEST(ModbusRtuCheck, AllZeroBufferFailsEveryCrcCheck) {
    const std::array<std::uint8_t, 200> zeros{};
    std::array<std::int32_t, 2048> out{};
    EXPECT_FALSE(rtu.CheckReadInputsReply(zeros, out));
    EXPECT_FALSE(rtu.CheckReadCoilsReply(zeros, out));
    EXPECT_FALSE(rtu.CheckRegistersSigned(zeros, out, 0, 10));
    EXPECT_FALSE(rtu.CheckRegistersLowByteFirst(zeros, out));
    EXPECT_FALSE(rtu.CheckWriteCoilReply(zeros));
    EXPECT_FALSE(rtu.CheckWrite47Reply(zeros));
    EXPECT_FALSE(rtu.CheckWriteRegistersReply(zeros));
    EXPECT_FALSE(rtu.CheckReadRegistersReply(zeros, out));
}

TEST(ModbusRtuCheck, ByteCountBeyondWhatArrivedOrWhatFitsFails) {
    std::array<std::int32_t, 130> regs{};
    // Claims 100 data bytes, 7 arrived.
    Frame claim = Hex("01 03 64 00 01 00 02");
    EXPECT_FALSE(rtu.CheckReadRegistersReply(claim, regs));
    // A correct frame whose registers do not fit the caller's array.
    const Frame rx = WithCrc(Hex("01 03 04 00 01 00 02"));
    std::array<std::int32_t, 1> one{};
    EXPECT_FALSE(rtu.CheckReadRegistersReply(rx, one));
    // Bits need 8n integers.
    const Frame bits = WithCrc(Hex("01 02 02 05 01"));
    std::array<std::int32_t, 15> fifteen{};
    EXPECT_FALSE(rtu.CheckReadInputsReply(bits, fifteen));
    // Shorter than any frame.
    EXPECT_FALSE(rtu.CheckReadRegistersReply(Hex("01 03"), regs));
    EXPECT_FALSE(rtu.CheckWriteRegistersReply(Hex("01 10 00 00 00 01 00")));
}

TEST(ModbusRtuCheck, BitRepliesUnpackLeastSignificantBitFirstAndCheckTheFunction) {
    const Frame inputs = WithCrc(Hex("01 02 01 05"));
    std::array<std::int32_t, 8> bits{};
    ASSERT_TRUE(rtu.CheckReadInputsReply(inputs, bits));
    EXPECT_EQ(bits, (std::array<std::int32_t, 8>{1, 0, 1, 0, 0, 0, 0, 0}));
    const Frame coils = WithCrc(Hex("01 01 01 02"));
    EXPECT_FALSE(rtu.CheckReadInputsReply(coils, bits));
    ASSERT_TRUE(rtu.CheckReadCoilsReply(coils, bits));
    EXPECT_EQ(bits[1], 1);
    EXPECT_FALSE(rtu.CheckReadCoilsReply(inputs, bits));
}

TEST(ModbusRtuCheck, EchoChecks) {
    EXPECT_TRUE(rtu.CheckWriteCoilReply(Hex("01 05 00 00 FF 00 8C 3A")));
    EXPECT_FALSE(rtu.CheckWriteRegistersReply(Hex("01 05 00 00 FF 00 8C 3A")));
    EXPECT_TRUE(rtu.CheckWriteRegistersReply(WithCrc(Hex("01 10 23 28 00 03"))));
    EXPECT_TRUE(rtu.CheckWrite47Reply(WithCrc(Hex("01 47 23 28 00 03"))));
    EXPECT_FALSE(rtu.CheckWriteRegistersReply(WithCrc(Hex("01 90 02"))));
}

TEST(ModbusRtuCheck, SignedAndLowByteFirstVariants) {
    const Frame rx = WithCrc(Hex("01 04 06 FF FF 80 00 7F FF"));  // any function code passes these
    std::array<std::int32_t, 3> regs{};
    ASSERT_TRUE(rtu.CheckRegistersSigned(rx, regs, 1, 1));
    EXPECT_EQ(regs, (std::array<std::int32_t, 3>{65535, -32768, 32767}));
    ASSERT_TRUE(rtu.CheckRegistersSigned(rx, regs, 0, 3));
    EXPECT_EQ(regs, (std::array<std::int32_t, 3>{-1, -32768, 32767}));
    ASSERT_TRUE(rtu.CheckRegistersSigned(rx, regs, 2, 50));  // a range past the data is bounded
    ASSERT_TRUE(rtu.CheckRegistersLowByteFirst(rx, regs));
    EXPECT_EQ(regs, (std::array<std::int32_t, 3>{65535, 0x0080, 0xFF7F}));
}

TEST(ModbusRtuCheck, TcpReplyWithFirstRegisterAsLowWord) {
    const Frame rx = Hex("00 00 00 00 00 0B 01 03 08 00 02 00 01 FF FF FF FF");
    std::array<std::int32_t, 2> v{};
    ASSERT_TRUE(rtu.ParseTcpReadReply32(rx, v));
    EXPECT_EQ(v[0], 65536 + 2);
    EXPECT_EQ(v[1], -1);
    EXPECT_FALSE(rtu.ParseTcpReadReply32(Hex("00 01 00 00 00 0B 01 03 08 00 02 00 01 FF FF FF FF"), v));
    EXPECT_FALSE(rtu.ParseTcpReadReply32(Hex("00 00 00 00 00 0B 01 04 08 00 02 00 01 FF FF FF FF"), v));
    EXPECT_TRUE(rtu.ParseTcpReadReply32(Hex("00 00 00 00 00 03 01 03 03"), v));  // n < 4 writes nothing
    EXPECT_FALSE(rtu.ParseTcpReadReply32(Hex("00 00 00 00 00 0B 01 03 08 00 02"), v));
}

TEST(ModbusRtuValues, ThirtyTwoBitLowWordFirst) {
    EXPECT_EQ(Join32(65534, 1), 131070u);
    EXPECT_EQ(Join32(0xFFFF, 0xFFFF), 0xFFFFFFFFu);
    EXPECT_EQ(JoinSigned32(0xFFFF, 0xFFFF), -1);
    EXPECT_EQ(JoinSigned32(0xFFF6, 0xFFFF), -10);
    EXPECT_EQ(Signed16(0xFFFF), -1);
    EXPECT_EQ(Signed16(0x7FFF), 32767);
}

}  // namespace
