// Feeds arbitrary bytes to every reply check: no input may make a check read or write
// outside the spans it is given. The first byte picks the size of the output array.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "link/ModbusRtu.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::size_t outSize = static_cast<std::size_t>(data[0]) * 8u;
    const Bytes rx(data + 1, size - 1);
    // Exactly sized heap buffers, so ASan sees the first byte past either end.
    std::vector<std::int32_t> out(outSize);
    const Values v(out.data(), out.size());
    const CModbusRtu rtu;
    (void)rtu.CheckReadInputsReply(rx, v);
    (void)rtu.CheckReadCoilsReply(rx, v);
    (void)rtu.CheckRegistersSigned(rx, v, static_cast<int>(data[0]) - 128, static_cast<int>(size));
    (void)rtu.CheckRegistersLowByteFirst(rx, v);
    (void)rtu.CheckWriteCoilReply(rx);
    (void)rtu.CheckWrite47Reply(rx);
    (void)rtu.CheckWriteRegistersReply(rx);
    (void)rtu.ParseTcpReadReply32(rx, v);
    (void)rtu.CheckReadRegistersReply(rx, v);
    return 0;
}
