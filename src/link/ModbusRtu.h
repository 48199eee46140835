#pragma once
// Modbus RTU frames: CRC-16/MODBUS, 16-bit fields high byte first, CRC low byte first.
// Stateless; the run's instance lives in RunState (src/run/RunState.h).

#include "link/Protocol.h"

// CRC-16/MODBUS over data; 0xFFFF for an empty span.
std::uint16_t Crc16Modbus(Bytes data);

// 32-bit quantity from two consecutive registers, low word first.
inline std::uint32_t Join32(std::int32_t low, std::int32_t high) {
    return (static_cast<std::uint32_t>(low) & 0xFFFFu) | ((static_cast<std::uint32_t>(high) & 0xFFFFu) << 16);
}
inline std::int32_t JoinSigned32(std::int32_t low, std::int32_t high) {
    return static_cast<std::int32_t>(Join32(low, high));
}
inline std::int32_t Signed16(std::int32_t reg) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(reg & 0xFFFF));
}

class CModbusRtu final : public CProtocol {
public:
    bool CheckReadInputsReply(Bytes rx, Values bits) const override;
    int BuildReadInputs(MutableBytes buf, int addr, int start, int count) const override;
    bool CheckReadCoilsReply(Bytes rx, Values bits) const override;
    int BuildReadCoils(MutableBytes buf, int addr, int start, int count) const override;
    bool CheckRegistersSigned(Bytes rx, Values regs, int first, int n) const override;
    bool CheckRegistersLowByteFirst(Bytes rx, Values regs) const override;
    bool CheckWriteCoilReply(Bytes rx) const override;
    int BuildWriteCoil(MutableBytes buf, int addr, int coil, int on) const override;
    bool CheckWrite47Reply(Bytes rx) const override;
    int BuildRead46(MutableBytes buf, int addr, int start, int count) const override;
    int BuildWrite47(MutableBytes buf, int addr, int start, int count, ConstValues values) const override;
    bool CheckWriteRegistersReply(Bytes rx) const override;
    bool ParseTcpReadReply32(Bytes rx, Values values) const override;
    bool CheckReadRegistersReply(Bytes rx, Values regs) const override;
    int BuildWriteRegisters(MutableBytes buf, int addr, int start, int count,
                            ConstValues values) const override;
    int BuildWriteRegistersMixed(MutableBytes buf, int addr, int start, int count,
                                 ConstValues values) const override;
    int BuildReadRegisters(MutableBytes buf, int addr, int start, int count) const override;
};
