#include "link/ModbusRtu.h"

#include <array>
#include <cstddef>

namespace {

using std::size_t;
using std::uint8_t;

uint8_t Lo(int v) {
    return static_cast<uint8_t>(v & 0xFF);
}
uint8_t Hi(int v) {
    return static_cast<uint8_t>((v >> 8) & 0xFF);
}

// Appends the CRC of buf[0, len) at buf[len], low byte first.
void PutCrc(MutableBytes buf, size_t len) {
    const std::uint16_t crc = Crc16Modbus(Bytes(buf.data(), len));
    buf[len] = static_cast<uint8_t>(crc & 0xFF);
    buf[len + 1] = static_cast<uint8_t>(crc >> 8);
}

bool CrcMatches(Bytes rx, size_t covered) {
    if (covered + 2 > rx.size()) return false;
    const std::uint16_t crc = Crc16Modbus(rx.first(covered));
    return rx[covered] == (crc & 0xFF) && rx[covered + 1] == (crc >> 8);
}

int BuildReadType(MutableBytes buf, int addr, uint8_t function, int start, int count) {
    if (buf.size() < 8) return 0;
    buf[0] = Lo(addr);
    buf[1] = function;
    buf[2] = Hi(start);
    buf[3] = Lo(start);
    buf[4] = Hi(count);
    buf[5] = Lo(count);
    PutCrc(buf, 6);
    return 8;
}

enum class Order { HighFirst, Mixed };

int BuildWriteType(MutableBytes buf, int addr, uint8_t function, int start, int count, ConstValues values,
                   Order order) {
    if (count < 0 || values.size() < static_cast<size_t>(count)) return 0;
    const size_t n = static_cast<size_t>(count);
    const size_t len = 9 + 2 * n;
    if (buf.size() < len) return 0;
    buf[0] = Lo(addr);
    buf[1] = function;
    buf[2] = Hi(start);
    buf[3] = Lo(start);
    buf[4] = Hi(count);
    buf[5] = Lo(count);
    buf[6] = static_cast<uint8_t>((count & 0xFF) * 2);  // kept to 8 bits, as the module expects
    for (size_t i = 0; i < n; ++i) {
        const int v = values[i];
        const bool highFirst = order == Order::HighFirst || i == 0;
        buf[7 + 2 * i] = highFirst ? Hi(v) : Lo(v);
        buf[8 + 2 * i] = highFirst ? Lo(v) : Hi(v);
    }
    PutCrc(buf, 7 + 2 * n);
    return static_cast<int>(len);
}

// Steps 1 and 2 of every reply check: byte count within the received bytes, CRC right.
bool FrameIntact(Bytes rx, size_t& n) {
    if (rx.size() < 5) return false;
    n = rx[2];
    return CrcMatches(rx, 3 + n);
}

enum class RegOrder { HighFirst, LowFirst };

bool DecodeRegisters(Bytes rx, Values regs, size_t n, RegOrder order) {
    const size_t count = n / 2;
    if (regs.size() < count) return false;
    for (size_t i = 0; i < count; ++i) {
        const int a = rx[3 + 2 * i];
        const int b = rx[4 + 2 * i];
        regs[i] = order == RegOrder::HighFirst ? a * 256 + b : a + b * 256;
    }
    return true;
}

bool CheckBits(Bytes rx, Values bits, uint8_t function) {
    size_t n = 0;
    if (!FrameIntact(rx, n) || rx[1] != function) return false;
    if (bits.size() < 8 * n) return false;
    for (size_t i = 0; i < 8 * n; ++i) bits[i] = (rx[3 + i / 8] >> (i % 8)) & 1;
    return true;
}

bool CheckEcho(Bytes rx, uint8_t function) {
    return CrcMatches(rx, 6) && rx[1] == function;
}

}  // namespace

namespace {

// Byte-at-a-time table of the reflected polynomial 0xA001: the resync of a noisy stream
// checks a CRC for every candidate frame, so eight shifts per byte were the sim's hot spot.
constexpr std::array<std::uint16_t, 256> kCrcTable = [] {
    std::array<std::uint16_t, 256> t{};
    for (std::size_t i = 0; i < t.size(); ++i) {
        auto crc = static_cast<std::uint16_t>(i);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1u) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001u)
                             : static_cast<std::uint16_t>(crc >> 1);
        t[i] = crc;
    }
    return t;
}();

}  // namespace

std::uint16_t Crc16Modbus(Bytes data) {
    std::uint16_t crc = 0xFFFF;
    for (const uint8_t byte : data)
        crc = static_cast<std::uint16_t>((crc >> 8) ^ kCrcTable[(crc ^ byte) & 0xFFu]);
    return crc;
}

bool CModbusRtu::CheckReadInputsReply(Bytes rx, Values bits) const {
    return CheckBits(rx, bits, 0x02);
}

int CModbusRtu::BuildReadInputs(MutableBytes buf, int addr, int start, int count) const {
    return BuildReadType(buf, addr, 0x02, start, count);
}

bool CModbusRtu::CheckReadCoilsReply(Bytes rx, Values bits) const {
    return CheckBits(rx, bits, 0x01);
}

int CModbusRtu::BuildReadCoils(MutableBytes buf, int addr, int start, int count) const {
    return BuildReadType(buf, addr, 0x01, start, count);
}

bool CModbusRtu::CheckRegistersSigned(Bytes rx, Values regs, int first, int n) const {
    size_t bytes = 0;
    if (!FrameIntact(rx, bytes) || !DecodeRegisters(rx, regs, bytes, RegOrder::HighFirst)) return false;
    // Only indices that were decoded are touched; the rest of the caller's range is left alone.
    const long long end = static_cast<long long>(first) + n;
    for (long long i = first < 0 ? 0 : first; i < end && static_cast<size_t>(i) < bytes / 2; ++i) {
        auto& v = regs[static_cast<size_t>(i)];
        if (v & 0x8000) v -= 65536;
    }
    return true;
}

bool CModbusRtu::CheckRegistersLowByteFirst(Bytes rx, Values regs) const {
    size_t n = 0;
    return FrameIntact(rx, n) && DecodeRegisters(rx, regs, n, RegOrder::LowFirst);
}

bool CModbusRtu::CheckWriteCoilReply(Bytes rx) const {
    return CheckEcho(rx, 0x05);
}

int CModbusRtu::BuildWriteCoil(MutableBytes buf, int addr, int coil, int on) const {
    return BuildReadType(buf, addr, 0x05, coil, on != 0 ? 0xFF00 : 0x0000);
}

bool CModbusRtu::CheckWrite47Reply(Bytes rx) const {
    return CheckEcho(rx, 0x47);
}

int CModbusRtu::BuildRead46(MutableBytes buf, int addr, int start, int count) const {
    return BuildReadType(buf, addr, 0x46, start, count);
}

int CModbusRtu::BuildWrite47(MutableBytes buf, int addr, int start, int count, ConstValues values) const {
    return BuildWriteType(buf, addr, 0x47, start, count, values, Order::HighFirst);
}

bool CModbusRtu::CheckWriteRegistersReply(Bytes rx) const {
    return CheckEcho(rx, 0x10);
}

bool CModbusRtu::ParseTcpReadReply32(Bytes rx, Values values) const {
    if (rx.size() < 9) return false;
    for (size_t i = 0; i < 5; ++i) {
        if (rx[i] != 0) return false;
    }
    if (rx[7] != 0x03) return false;
    const size_t count = rx[8] / 4u;
    if (9 + 4 * count > rx.size() || values.size() < count) return false;
    for (size_t i = 0; i < count; ++i) {
        const Bytes b = rx.subspan(9 + 4 * i, 4);
        const std::uint32_t v = (std::uint32_t{b[2]} << 24) | (std::uint32_t{b[3]} << 16) |
                                (std::uint32_t{b[0]} << 8) | std::uint32_t{b[1]};
        values[i] = static_cast<std::int32_t>(v);
    }
    return true;
}

bool CModbusRtu::CheckReadRegistersReply(Bytes rx, Values regs) const {
    size_t n = 0;
    if (!FrameIntact(rx, n) || rx[1] != 0x03) return false;
    return DecodeRegisters(rx, regs, n, RegOrder::HighFirst);
}

int CModbusRtu::BuildWriteRegisters(MutableBytes buf, int addr, int start, int count,
                                    ConstValues values) const {
    return BuildWriteType(buf, addr, 0x10, start, count, values, Order::HighFirst);
}

int CModbusRtu::BuildWriteRegistersMixed(MutableBytes buf, int addr, int start, int count,
                                         ConstValues values) const {
    return BuildWriteType(buf, addr, 0x10, start, count, values, Order::Mixed);
}

int CModbusRtu::BuildReadRegisters(MutableBytes buf, int addr, int start, int count) const {
    return BuildReadType(buf, addr, 0x03, start, count);
}
