#pragma once
// A port double whose opening and replies a test scripts; it records what was written and
// when. Replies come from `replies` in order, or, with `answerReads` on, every function-03
// request is answered from `regs` (unmapped registers read 0), like a module whose reply is
// waiting at once.

#include <algorithm>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "link/Clock.h"
#include "link/CommPort.h"
#include "support/Frames.h"

class ScriptedPort final : public CCommPort {
public:
    explicit ScriptedPort(Clock& clock) : clock_(clock) {}
    bool Open(const std::string& name = "COM1", int baud = 9600, int dataBits = 8, int parity = 0,
              int stopBits = 0) {
        opens.push_back({name, baud, dataBits, parity, stopBits});
        const bool ok = openResults.empty() ? true : openResults.front();
        if (!openResults.empty()) openResults.pop_front();
        if (ok) open_ = true;
        return ok;
    }
    void Close() override {
        ++closes;
        open_ = false;
    }
    bool IsOpen() const override { return open_; }
    int Write(std::span<const std::uint8_t> data) override {
        if (!open_) return 0;
        writes.emplace_back(data.begin(), data.end());
        writeTimesMs.push_back(clock_.nowMs());
        pending_.clear();  // the purge
        if (answerReads && !mute && data.size() == 8 && data[1] == 0x03) pending_ = Answer(data);
        return static_cast<int>(data.size());
    }
    int Read(std::span<std::uint8_t> buf) override {
        std::fill(buf.begin(), buf.end(), std::uint8_t{0});
        if (!open_) return 0;
        Frame r;
        if (!replies.empty()) {
            r = replies.front();
            replies.pop_front();
        } else {
            r.swap(pending_);
        }
        if (r.empty()) return 0;
        readTimesMs.push_back(clock_.nowMs());
        const std::size_t n = std::min(r.size(), buf.size());
        std::copy_n(r.begin(), n, buf.begin());
        return static_cast<int>(n);
    }

    void Set32(int reg, std::uint32_t v) {
        regs[reg] = static_cast<std::uint16_t>(v & 0xFFFF);
        regs[reg + 1] = static_cast<std::uint16_t>(v >> 16);
    }
    // Start and count of every read request written so far.
    std::vector<std::pair<int, int>> ReadRequests() const {
        std::vector<std::pair<int, int>> out;
        for (const auto& f : writes)
            if (f.size() == 8 && f[1] == 0x03) out.emplace_back(StartOf(f), CountOf(f));
        return out;
    }

    struct OpenCall {
        std::string name;
        int baud, dataBits, parity, stopBits;
    };
    std::vector<OpenCall> opens;
    std::deque<bool> openResults;
    std::deque<Frame> replies;
    std::vector<Frame> writes;
    std::vector<std::int64_t> writeTimesMs, readTimesMs;
    int closes = 0;

    bool answerReads = false;
    std::map<int, std::uint16_t> regs;
    bool mute = false;     // no answer to reads
    int corruptNext = -1;  // corrupt the CRC of the answer to the read with this start

private:
    Frame Answer(std::span<const std::uint8_t> req) {
        const int start = req[2] << 8 | req[3];
        const int count = req[4] << 8 | req[5];
        Frame f{req[0], 0x03, static_cast<std::uint8_t>(count * 2)};
        for (int i = 0; i < count; ++i) {
            const auto it = regs.find(start + i);
            const std::uint16_t v = it == regs.end() ? 0 : it->second;
            f.push_back(static_cast<std::uint8_t>(v >> 8));
            f.push_back(static_cast<std::uint8_t>(v & 0xFF));
        }
        f = WithCrc(f);
        if (start == corruptNext) {
            f.back() ^= 0x55;
            corruptNext = -1;
        }
        return f;
    }

    Clock& clock_;
    bool open_ = false;
    Frame pending_;
};
