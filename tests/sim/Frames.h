#pragma once
// Raw request frames for the sim tests: the bytes given plus their CRC, low byte first.

#include <cstdint>
#include <vector>

#include "link/ModbusRtu.h"

inline std::vector<std::uint8_t> WithCrc(std::vector<std::uint8_t> f) {
    const std::uint16_t crc = Crc16Modbus(f);
    f.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    f.push_back(static_cast<std::uint8_t>(crc >> 8));
    return f;
}

inline std::vector<std::uint8_t> ExceptionFrame(std::uint8_t addr, std::uint8_t fc, std::uint8_t code) {
    return WithCrc({addr, static_cast<std::uint8_t>(0x80 | fc), code});
}
