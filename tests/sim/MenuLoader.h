#pragma once
// A stand-in for a module's bootloader, enough to drive the raw hook: the key '1' answers a
// menu text and opens a transfer, in which 1029-byte blocks (STX, number, complement, 1024
// data bytes, CRC) get ACK after a flash write of kBlockMs, and EOT gets ACK and closes it.
// Outside a transfer it claims nothing else, so Modbus framing sees every other byte.

#include <string_view>
#include <vector>

#include "sim/RawHandler.h"

class MenuLoader final : public RawHandler {
public:
    static constexpr std::uint8_t kStx = 0x02;
    static constexpr std::uint8_t kEot = 0x04;
    static constexpr std::uint8_t kAck = 0x06;
    static constexpr std::size_t kBlock = 1029;
    static constexpr int kBlockMs = 20;
    static constexpr std::string_view kMenu = "\r\n1 Download\r\n";

    Match MatchRaw(std::span<const std::uint8_t> s, std::size_t& length) const override {
        if (s.empty()) return Match::No;
        length = 1;
        if (!receiving_) return s[0] == '1' ? Match::Complete : Match::No;
        if (s[0] == kEot) return Match::Complete;
        if (s[0] != kStx) return Match::No;
        length = kBlock;
        return s.size() >= kBlock ? Match::Complete : Match::NeedMore;
    }

    std::vector<std::uint8_t> HandleRaw(VirtualModule&, std::span<const std::uint8_t> unit,
                                        Clock::Micros) override {
        extraMs_ = 0;
        if (!receiving_) {
            receiving_ = true;
            return {kMenu.begin(), kMenu.end()};
        }
        if (unit.size() == 1) {
            receiving_ = false;
        } else {
            blocks_.emplace_back(unit.begin(), unit.end());
            extraMs_ = kBlockMs;
        }
        return {kAck};
    }

    int ExtraDelayMs() const override { return extraMs_; }

    const std::vector<std::vector<std::uint8_t>>& Blocks() const { return blocks_; }

    // A block numbered n whose data bytes count up from n.
    static std::vector<std::uint8_t> Block(std::uint8_t n) {
        std::vector<std::uint8_t> b{kStx, n, static_cast<std::uint8_t>(~n)};
        for (std::size_t i = 0; i + 5 < kBlock; ++i) b.push_back(static_cast<std::uint8_t>(n + i));
        b.push_back(0x12);
        b.push_back(0x34);
        return b;
    }

private:
    bool receiving_ = false;
    int extraMs_ = 0;
    std::vector<std::vector<std::uint8_t>> blocks_;
};
