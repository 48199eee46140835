#pragma once
// A scripted module behind CCommPort for form and cycle tests: every request written is
// recorded; a read-holding-registers request is answered from `regs` unless a fault is
// armed. The reply is waiting at once (the cycle reads it on the next tick).

#include <cstdint>
#include <map>
#include <span>
#include <vector>

#include "link/CommPort.h"
#include "support/Frames.h"

class FakeModule final : public CCommPort {
public:
    std::map<int, std::uint16_t> regs;
    std::vector<std::vector<std::uint8_t>> written;
    bool open = true;
    bool mute = false;       // no reply at all
    int corruptNext = -1;    // corrupt the CRC of the reply to the request with this start

    void Close() override { open = false; }
    bool IsOpen() const override { return open; }
    int Write(std::span<const std::uint8_t> data) override
    {
        if (!open)
            return 0;
        written.emplace_back(data.begin(), data.end());
        pending_.clear();
        if (!mute && data.size() == 8 && data[1] == 0x03) {
            const int start = data[2] << 8 | data[3];
            const int count = data[4] << 8 | data[5];
            pending_ = {data[0], 0x03, static_cast<std::uint8_t>(count * 2)};
            for (int i = 0; i < count; ++i) {
                const auto it = regs.find(start + i);
                const std::uint16_t v = it == regs.end() ? 0 : it->second;
                pending_.push_back(static_cast<std::uint8_t>(v >> 8));
                pending_.push_back(static_cast<std::uint8_t>(v & 0xFF));
            }
            pending_ = WithCrc(pending_);
            if (start == corruptNext) {
                pending_.back() ^= 0x55;
                corruptNext = -1;
            }
        }
        return static_cast<int>(data.size());
    }
    int Read(std::span<std::uint8_t> buf) override
    {
        std::fill(buf.begin(), buf.end(), std::uint8_t{0});
        if (!open)
            return 0;
        const std::size_t n = std::min(buf.size(), pending_.size());
        std::copy_n(pending_.begin(), n, buf.begin());
        pending_.clear();
        return static_cast<int>(n);
    }

    void Set32(int reg, std::uint32_t v)
    {
        regs[reg] = static_cast<std::uint16_t>(v & 0xFFFF);
        regs[reg + 1] = static_cast<std::uint16_t>(v >> 16);
    }

private:
    std::vector<std::uint8_t> pending_;
};
