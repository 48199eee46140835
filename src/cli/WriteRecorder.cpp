#include "cli/WriteRecorder.h"

#include <algorithm>

#include "link/ModbusRtu.h"

namespace {

constexpr std::uint8_t kSoh = 0x01;
constexpr std::uint8_t kStx = 0x02;
constexpr std::uint8_t kEot = 0x04;
constexpr std::size_t kHeaderBlockBytes = 133;
constexpr std::size_t kDataBlockBytes = 1029;
constexpr std::size_t kHandshakeBytes = 18;

int Word(std::span<const std::uint8_t> f, std::size_t at) {
    return f[at] << 8 | f[at + 1];
}

std::string Range(const char* one, const char* many, int start, int count, int address) {
    std::string text = count == 1 ? std::string(one) + " " + std::to_string(start)
                                  : std::string(many) + " " + std::to_string(start) + "-" +
                                        std::to_string(start + count - 1);
    return text + " at address " + std::to_string(address);
}

// A Modbus request with a good CRC: the register or coil writes it makes.
std::string DescribeModbus(std::span<const std::uint8_t> f) {
    if (f.size() < 8) return {};
    const std::uint16_t crc = Crc16Modbus(f.first(f.size() - 2));
    if (f[f.size() - 2] != (crc & 0xFF) || f[f.size() - 1] != crc >> 8) return {};
    const int address = f[0];
    switch (f[1]) {
        case 0x05:
            return Range("coil", "coils", Word(f, 2), 1, address);
        case 0x06:
            return Range("register", "registers", Word(f, 2), 1, address);
        case 0x0F:
            return Range("coil", "coils", Word(f, 2), Word(f, 4), address);
        case 0x10:
            return Range("register", "registers", Word(f, 2), Word(f, 4), address);
        default:
            return {};
    }
}

}  // namespace

std::string WriteRecorder::Describe(std::span<const std::uint8_t> f) {
    if (f.empty()) return {};
    if (f.size() == 1 && f[0] == '1') return "bootloader key";
    if (f.size() == 1 && f[0] == kEot) return "end of the image";
    if (f.size() == kHandshakeBytes && f[0] == 'I' && f[1] == 'D' &&
        std::all_of(f.begin() + 2, f.begin() + 6, [](std::uint8_t c) { return c >= '0' && c <= '9'; })) {
        const int address = (f[2] - '0') * 1000 + (f[3] - '0') * 100 + (f[4] - '0') * 10 + (f[5] - '0');
        return "update handshake at address " + std::to_string(address);
    }
    if (f.size() == kHeaderBlockBytes && f[0] == kSoh) return f[3] == 0 ? "closing block" : "image header";
    if (f.size() == kDataBlockBytes && f[0] == kStx) return "image block";
    return DescribeModbus(f);
}

int WriteRecorder::Write(std::span<const std::uint8_t> data) {
    const int sent = port_ != nullptr ? port_->Write(data) : 0;
    if (sent <= 0) return sent;
    const std::string what = Describe(data);
    if (what.empty()) return sent;
    if (!written_.empty() && written_.back().first == what)
        ++written_.back().second;
    else
        written_.emplace_back(what, 1);
    return sent;
}

std::string WriteRecorder::Summary() const {
    if (written_.empty()) return "nothing was written to the module";
    std::string text = "already written to the module: ";
    for (std::size_t i = 0; i < written_.size(); ++i) {
        if (i > 0) text += ", ";
        text += written_[i].first;
        if (written_[i].second > 1) text += " x" + std::to_string(written_[i].second);
    }
    return text;
}
