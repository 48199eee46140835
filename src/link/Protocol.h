#pragma once
// The frame layer's interface: builders fill a caller's buffer with a request and
// return its length (0 when the buffer is too small); checks take the received bytes
// and an output array and return true when the frame passes. No check reads or writes
// outside the spans it is given, whatever bytes arrive.

#include <cstdint>
#include <span>

using Bytes = std::span<const std::uint8_t>;
using MutableBytes = std::span<std::uint8_t>;
using Values = std::span<std::int32_t>;
using ConstValues = std::span<const std::int32_t>;

class CProtocol {
public:
    // Slot order is the interface's contract; keep it.
    virtual bool CheckReadInputsReply(Bytes rx, Values bits) const = 0;                       // 0
    virtual int BuildReadInputs(MutableBytes buf, int addr, int start, int count) const = 0;  // 1
    virtual bool CheckReadCoilsReply(Bytes rx, Values bits) const = 0;                        // 2
    virtual int BuildReadCoils(MutableBytes buf, int addr, int start, int count) const = 0;   // 3
    virtual bool CheckRegistersSigned(Bytes rx, Values regs, int first, int n) const = 0;     // 4
    virtual bool CheckRegistersLowByteFirst(Bytes rx, Values regs) const = 0;                 // 5
    virtual bool CheckWriteCoilReply(Bytes rx) const = 0;                                     // 6
    virtual int BuildWriteCoil(MutableBytes buf, int addr, int coil, int on) const = 0;       // 7
    virtual bool CheckWrite47Reply(Bytes rx) const = 0;                                       // 8
    virtual int BuildRead46(MutableBytes buf, int addr, int start, int count) const = 0;      // 9
    virtual int BuildWrite47(MutableBytes buf, int addr, int start, int count,
                             ConstValues values) const = 0;                 // 10
    virtual bool CheckWriteRegistersReply(Bytes rx) const = 0;              // 11
    virtual bool ParseTcpReadReply32(Bytes rx, Values values) const = 0;    // 12
    virtual bool CheckReadRegistersReply(Bytes rx, Values regs) const = 0;  // 13
    virtual int BuildWriteRegisters(MutableBytes buf, int addr, int start, int count,
                                    ConstValues values) const = 0;  // 14
    virtual int BuildWriteRegistersMixed(MutableBytes buf, int addr, int start, int count,
                                         ConstValues values) const = 0;                          // 15
    virtual int BuildReadRegisters(MutableBytes buf, int addr, int start, int count) const = 0;  // 16
    virtual ~CProtocol() = default;                                                              // 17
};
