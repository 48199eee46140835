#pragma once
// A port whose opening and replies a test scripts; it records what was written and when.

#include <algorithm>
#include <deque>
#include <string>
#include <vector>

#include "link/Clock.h"
#include "link/CommPort.h"
#include "link/ModbusRtu.h"
#include "support/Frames.h"

class ScriptedPort final : public CCommPort {
public:
    explicit ScriptedPort(Clock& clock) : clock_(clock) {}
    bool Open(const std::string& name, int baud, int dataBits, int parity, int stopBits) {
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
        return static_cast<int>(data.size());
    }
    int Read(std::span<std::uint8_t> buf) override {
        std::fill(buf.begin(), buf.end(), std::uint8_t{0});
        if (!open_ || replies.empty()) return 0;
        Frame r = replies.front();
        replies.pop_front();
        readTimesMs.push_back(clock_.nowMs());
        const std::size_t n = std::min(r.size(), buf.size());
        std::copy_n(r.begin(), n, buf.begin());
        return static_cast<int>(n);
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

private:
    Clock& clock_;
    bool open_ = false;
};

