#pragma once
// A module answering slowly: from its own thread, writes `pieces` pieces of `size` bytes to
// the master end of a Pty, `everyMs` apart (pieces = 0: until stopped). The bytes count up
// from 0 (mod 256), so a reader can tell which ones it got and in what order.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include "support/Pty.h"

class PtyTrickle {
public:
    PtyTrickle(const Pty& pty, std::size_t size, int everyMs, std::size_t pieces = 0)
        : thread_([this, &pty, size, everyMs, pieces] { Run(pty, size, everyMs, pieces); }) {}
    ~PtyTrickle() { Stop(); }
    PtyTrickle(const PtyTrickle&) = delete;
    PtyTrickle& operator=(const PtyTrickle&) = delete;

    void Stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    std::size_t Sent() const { return sent_; }
    bool Done() const { return done_; }

    // Polls until at least `count` bytes went out; false when the bound ran out first.
    bool WaitSent(std::size_t count, std::chrono::milliseconds bound = std::chrono::seconds(2)) const {
        const auto until = std::chrono::steady_clock::now() + bound;
        while (sent_ < count) {
            if (std::chrono::steady_clock::now() >= until) return false;
            std::this_thread::yield();
        }
        return true;
    }

private:
    void Run(const Pty& pty, std::size_t size, int everyMs, std::size_t pieces) {
        // A fixed schedule, not a sleep after each piece: a late wake-up is caught up at once,
        // so the pauses stay near everyMs instead of adding up.
        auto next = std::chrono::steady_clock::now();
        for (std::size_t i = 0; !stop_ && (pieces == 0 || i < pieces); ++i) {
            std::this_thread::sleep_until(next);
            std::vector<std::uint8_t> piece(size);
            for (auto& b : piece) b = static_cast<std::uint8_t>(counter_++);
            pty.Send(piece);
            sent_ += size;
            next += std::chrono::milliseconds(everyMs);
        }
        done_ = true;
    }

    std::atomic<bool> stop_{false};
    std::atomic<bool> done_{false};
    std::atomic<std::size_t> sent_{0};
    unsigned counter_ = 0;
    std::thread thread_;  // last: it starts in the constructor and uses the members above
};
