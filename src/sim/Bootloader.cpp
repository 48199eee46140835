#include "sim/Bootloader.h"

#include <algorithm>
#include <cstdio>

#include "sim/RequestFramer.h"
#include "sim/VirtualModule.h"

namespace {

constexpr std::size_t kHeaderPacket = 133;
constexpr std::size_t kBlockPacket = 1029;
constexpr std::size_t kBannerMarkAt = 74;
constexpr std::size_t kBannerMarkEnd = 78;  // "=" up to 77
constexpr std::uint8_t kKey = '1';
constexpr int kVersionRegister = 9500;
constexpr int kSnapshotStart = 376;

bool IsDigit(std::uint8_t c) {
    return c >= '0' && c <= '9';
}

// Whether the stream starts with a whole Modbus request: then a key or EOT byte in front
// is an address, not ours.
bool ModbusAhead(std::span<const std::uint8_t> stream) {
    std::size_t length = 0;
    return stream.size() >= 4 && RequestFramer::FrameAt(stream, length) == RequestFramer::Framing::Complete;
}

RawHandler::Match MatchHandshake(std::span<const std::uint8_t> s, std::size_t& length) {
    const std::size_t n = std::min(s.size(), Bootloader::kHandshakeLength);
    for (std::size_t k = 0; k < n; ++k) {
        const bool ok = k == 0   ? s[k] == 'I'
                        : k == 1 ? s[k] == 'D'
                        : k < 6  ? IsDigit(s[k])
                                 : s[k] == static_cast<std::uint8_t>(Bootloader::kAccessCode[k - 6]);
        if (!ok) return RawHandler::Match::No;
    }
    if (s.size() < Bootloader::kHandshakeLength) return RawHandler::Match::NeedMore;
    length = Bootloader::kHandshakeLength;
    return RawHandler::Match::Complete;
}

bool CrcOk(std::span<const std::uint8_t> packet) {
    const std::size_t data = packet.size() - 5;
    const std::uint16_t crc = Bootloader::Crc(packet.subspan(3, data));
    return packet[3 + data] == (crc >> 8) && packet[4 + data] == (crc & 0xFF);
}

}  // namespace

std::uint16_t Bootloader::Crc(std::span<const std::uint8_t> data) {
    std::uint32_t crc = 0xFFFF;
    for (const std::uint8_t byte : data) {
        for (int bit = 7; bit >= 0; --bit) {
            const bool in = ((byte >> bit) & 1) != 0;
            const bool top = (crc & 0x8000) != 0;
            crc = (crc << 1) & 0xFFFF;
            if (in != top) crc ^= 0x1021;
        }
    }
    return static_cast<std::uint16_t>(crc);
}

std::string Bootloader::Banner(int address) {
    char line[64];
    std::snprintf(line, sizeof line, "\r\nKVT40 bootloader 2.10, module %04d\r\n", address);
    std::string banner = line;
    banner.append(kBannerMarkEnd - banner.size(), '=');
    banner += "\r\n  1  Download image to the internal flash\r\n  2  Run the application\r\n";
    return banner;
}

int Bootloader::VersionTag(std::span<const std::uint8_t> image) {
    static constexpr std::string_view kTag = "VER=";
    const auto it = std::search(image.begin(), image.end(), kTag.begin(), kTag.end());
    if (it == image.end()) return -1;
    int value = 0;
    std::size_t digits = 0;
    for (auto d = it + static_cast<std::ptrdiff_t>(kTag.size());
         d != image.end() && IsDigit(*d) && digits < 5; ++d, ++digits)
        value = value * 10 + (*d - '0');
    return digits == 0 || value > 65535 ? -1 : value;
}

void Bootloader::SetFaults(const Faults& faults) {
    faults_ = faults;
    naksLeft_ = faults.nakCount;
    dropsLeft_ = faults.dropCount;
    vanishArmed_ = faults.vanishAtBlock > 0;
}

void Bootloader::EnterBootloader(VirtualModule& module) {
    state_ = State::Menu;
    module.SetMode(VirtualModule::Mode::Bootloader);
}

RawHandler::Match Bootloader::MatchRaw(std::span<const std::uint8_t> s, std::size_t& length) const {
    if (s.empty()) return Match::No;
    if (const Match h = MatchHandshake(s, length); h != Match::No) return h;
    if (!InLoader()) return Match::No;
    if (s[0] == kKey || (Receives() && s[0] == kEot)) {
        if (ModbusAhead(s)) return Match::No;
        length = 1;
        return Match::Complete;
    }
    if (Receives() && (s[0] == kSoh || s[0] == kStx)) {
        if (s.size() >= 3 && s[2] != static_cast<std::uint8_t>(~s[1])) return Match::No;
        const std::size_t n = s[0] == kSoh ? kHeaderPacket : kBlockPacket;
        if (s.size() < n) return Match::NeedMore;
        length = n;
        return Match::Complete;
    }
    return Match::No;
}

std::vector<std::uint8_t> Bootloader::HandleRaw(VirtualModule& module, std::span<const std::uint8_t> unit,
                                                Clock::Micros now) {
    extraMs_ = 0;
    if (state_ == State::Vanished) {
        if (now < back_) return {};
        // Powered again: the application is incomplete, so the bootloader waits for the key.
        state_ = State::Menu;
        Note(module, "back in the bootloader");
    }
    if (unit.size() == kHandshakeLength && unit[0] == 'I') return OnHandshake(module, unit);
    if (unit.size() == 1 && unit[0] == kKey) {
        if (state_ == State::Menu) {
            Note(module, "key: waiting for the file");
            state_ = State::Receiving;
            headerSeen_ = false;
            name_.clear();
            size_ = 0;
            expected_ = 1;
            received_.clear();
            extraMs_ = kPrintMs;
            std::vector<std::uint8_t> text(kReadyText.begin(), kReadyText.end());
            text.push_back(kReady);
            return text;
        }
        return Receives() ? std::vector<std::uint8_t>{kReady} : std::vector<std::uint8_t>{};
    }
    if (!Receives()) return {};
    if (unit.size() == 1 && unit[0] == kEot) {
        Note(module, "end of the file");
        state_ = State::Closing;
        return {kAck};
    }
    if (unit[0] == kSoh) return OnHeader(module, unit);
    const std::uint32_t block = expected_;
    auto reply = OnBlock(unit, now);
    if (state_ == State::Vanished)
        Note(module, "vanished at block " + std::to_string(block));
    else if (reply.empty())
        Note(module, "block " + std::to_string(block) + " dropped");
    else if (reply[0] != kAck)
        Note(module, "block " + std::to_string(block) + " refused");
    else if (expected_ == block)
        Note(module, "block " + std::to_string(block - 1) + " again");
    else
        Note(module, "block " + std::to_string(block));
    return reply;
}

std::vector<std::uint8_t> Bootloader::OnHandshake(VirtualModule& module, std::span<const std::uint8_t> unit) {
    int address = 0;
    for (std::size_t k = 2; k < 6; ++k) address = address * 10 + (unit[k] - '0');
    if (address != module.Address() || faults_.ignoreHandshake) return {};
    state_ = State::Menu;
    module.SetMode(VirtualModule::Mode::Bootloader);
    extraMs_ = kPrintMs;
    Note(module, "handshake: in the bootloader");
    const std::string banner = Banner(address);
    return {banner.begin(), banner.end()};
}

std::vector<std::uint8_t> Bootloader::OnHeader(VirtualModule& module, std::span<const std::uint8_t> unit) {
    if (unit[1] != 0x00 || !CrcOk(unit)) return {kNak};
    const auto data = unit.subspan(3, 128);
    if (std::all_of(data.begin(), data.end(), [](std::uint8_t b) { return b == 0; })) {
        if (state_ != State::Closing) return {kAck};  // no file follows: nothing to program
        // An image shorter than its header said is not programmed.
        if (received_.size() < size_) return {kNak};
        Program(module);
        return {kAck};
    }
    const auto nameEnd = std::find(data.begin(), data.end(), std::uint8_t{0});
    name_.assign(data.begin(), nameEnd);
    std::uint64_t size = 0;
    for (auto d = nameEnd == data.end() ? nameEnd : nameEnd + 1; d != data.end() && IsDigit(*d); ++d)
        size = std::min<std::uint64_t>(size * 10 + (*d - '0'), 0xFFFFFFFFu);
    size_ = static_cast<std::uint32_t>(size);
    headerSeen_ = true;
    Note(module, "file " + name_ + ", " + std::to_string(size_) + " bytes");
    state_ = State::Receiving;
    expected_ = 1;
    received_.clear();
    return {kAck};
}

std::vector<std::uint8_t> Bootloader::OnBlock(std::span<const std::uint8_t> unit, Clock::Micros now) {
    if (vanishArmed_ && expected_ == static_cast<std::uint32_t>(faults_.vanishAtBlock)) {
        vanishArmed_ = false;
        state_ = State::Vanished;
        back_ = now + Clock::Micros(std::int64_t{faults_.vanishMs} * 1000);
        return {};
    }
    if (state_ != State::Receiving || !headerSeen_) return {kNak};
    const std::uint8_t number = unit[1];
    // The last block again (its ACK was lost): acknowledged, not stored twice.
    if (expected_ > 1 && number == static_cast<std::uint8_t>((expected_ - 1) & 0xFF) && CrcOk(unit))
        return {kAck};
    if (number != static_cast<std::uint8_t>(expected_ & 0xFF) || !CrcOk(unit)) return {kNak};
    if (expected_ == static_cast<std::uint32_t>(faults_.nakBlock) && naksLeft_ > 0) {
        --naksLeft_;
        return {kNak};
    }
    if (expected_ == static_cast<std::uint32_t>(faults_.dropBlock) && dropsLeft_ > 0) {
        --dropsLeft_;
        return {};
    }
    received_.insert(received_.end(), unit.begin() + 3, unit.begin() + 3 + 1024);
    ++expected_;
    extraMs_ = kFlashWriteMs;
    return {kAck};
}

void Bootloader::Program(VirtualModule& module) {
    programmed_.assign(received_.begin(), received_.begin() + static_cast<std::ptrdiff_t>(size_));
    programmedName_ = name_;
    ++programs_;
    if (const int version = VersionTag(programmed_); version >= 0)
        (void)module.SetStored(kVersionRegister, static_cast<std::uint16_t>(version));
    if (faults_.snapshotChanges) {
        const auto word = module.ReadRegister(kSnapshotStart, Clock::Micros{0}).value_or(0);
        (void)module.SetStored(kSnapshotStart, static_cast<std::uint16_t>(word + 1));
    }
    state_ = State::Application;
    module.SetMode(VirtualModule::Mode::Application);
    Note(module, "programmed " + std::to_string(programmed_.size()) + " bytes, version " +
                     std::to_string(module.ReadRegister(kVersionRegister, Clock::Micros{0}).value_or(0)));
}

void Bootloader::Note(const VirtualModule& module, const std::string& event) const {
    if (trace_) trace_(module.Address(), event);
}

Bootloader* BootloaderOf(VirtualModule& module) {
    return dynamic_cast<Bootloader*>(module.Raw());
}
