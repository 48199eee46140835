#pragma once
// Frames for the tests, built by hand: the bytes given plus their CRC, low byte first.

#include <cstdint>
#include <string>
#include <vector>

#include "link/ModbusRtu.h"

using Frame = std::vector<std::uint8_t>;

inline Frame WithCrc(Frame f) {
    const std::uint16_t crc = Crc16Modbus(f);
    f.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    f.push_back(static_cast<std::uint8_t>(crc >> 8));
    return f;
}

// "01 03 00 0A" -> {0x01, 0x03, 0x00, 0x0A}; spaces are optional.
inline Frame Hex(const std::string& text) {
    Frame out;
    for (std::size_t i = 0; i < text.size();) {
        if (text[i] == ' ') {
            ++i;
            continue;
        }
        out.push_back(static_cast<std::uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
        i += 2;
    }
    return out;
}

// A read reply of `count` registers holding `first`, first+1, ...
inline Frame RegistersReply(std::uint8_t addr, int count, int first = 0) {
    Frame f{addr, 0x03, static_cast<std::uint8_t>(2 * count)};
    for (int i = 0; i < count; ++i) {
        f.push_back(static_cast<std::uint8_t>(((first + i) >> 8) & 0xFF));
        f.push_back(static_cast<std::uint8_t>((first + i) & 0xFF));
    }
    return WithCrc(f);
}

inline Frame ProbeReply(std::uint8_t addr) {
    return RegistersReply(addr, 10, 0);
}

inline Frame ExceptionFrame(std::uint8_t addr, std::uint8_t fc, std::uint8_t code) {
    return WithCrc({addr, static_cast<std::uint8_t>(0x80 | fc), code});
}

// Start and count of a read request.
inline int StartOf(const Frame& f) {
    return f[2] << 8 | f[3];
}
inline int CountOf(const Frame& f) {
    return f[4] << 8 | f[5];
}
