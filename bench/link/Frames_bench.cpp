// Building and checking the frames of one measurement cycle: the frame layer must stay a
// negligible share of a 600 ms tick.
#include <benchmark/benchmark.h>

#include <array>
#include <vector>

#include "link/ModbusRtu.h"

namespace {

std::vector<std::uint8_t> Reply72() {
    std::vector<std::uint8_t> f{1, 3, 144};
    for (int i = 0; i < 144; ++i) f.push_back(static_cast<std::uint8_t>(i));
    const std::uint16_t crc = Crc16Modbus(f);
    f.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    f.push_back(static_cast<std::uint8_t>(crc >> 8));
    f.resize(200, 0);
    return f;
}

void BM_BuildReadRegisters(benchmark::State& state) {
    const CModbusRtu rtu;
    std::array<std::uint8_t, 8> tx{};
    int start = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(rtu.BuildReadRegisters(tx, 1, start, 72));
        start = (start + 72) % 370;
    }
}
BENCHMARK(BM_BuildReadRegisters);

void BM_CheckReadRegistersReply72(benchmark::State& state) {
    const CModbusRtu rtu;
    const auto rx = Reply72();
    std::array<std::int32_t, 128> regs{};
    for (auto _ : state) benchmark::DoNotOptimize(rtu.CheckReadRegistersReply(rx, regs));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 149);
}
BENCHMARK(BM_CheckReadRegistersReply72);

}  // namespace
