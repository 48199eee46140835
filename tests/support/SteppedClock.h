#pragma once
// A clock for tests with a worker thread: the worker's sleep blocks until the test moves
// time past its wake-up, so a test can hold a transfer at a chosen block, look, act (close
// the port, say) and let it go on, deterministically and without real waits.
//
//     SteppedClock clock;
//     std::thread worker([&] { RunTransfer(clock); });
//     while (blocks < 3) { ASSERT_TRUE(clock.WaitForSleepers(1)); clock.AdvanceToNextWake(); }
//     // the worker now sleeps inside block 3 until told
//     port.Close();
//     clock.Release();                  // every sleep returns at once from here on
//     worker.join();

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>

#include "link/Clock.h"

class SteppedClock final : public Clock {
public:
    void sleep(int ms) override { sleepFor(Micros(std::int64_t{ms} * 1000)); }
    void sleepFor(Micros d) override {
        std::unique_lock lock(mutex_);
        if (released_ || d.count() <= 0) {
            now_ += std::max(d, Micros{0});
            return;
        }
        const Micros wake = now_ + d;
        const auto it = wakes_.insert(wake);
        cv_.notify_all();
        cv_.wait(lock, [&] { return now_ >= wake || released_; });
        if (now_ < wake) now_ = wake;  // released early: time still moves on for the sleeper
        wakes_.erase(it);
        cv_.notify_all();
    }
    Micros now() const override {
        std::lock_guard lock(mutex_);
        return now_;
    }

    // Waits until `count` threads sleep (a real-time bound guards a test that went wrong).
    bool WaitForSleepers(std::size_t count = 1, std::chrono::milliseconds bound = std::chrono::seconds(10)) {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, bound, [&] { return wakes_.size() >= count; });
    }
    std::size_t Sleepers() const {
        std::lock_guard lock(mutex_);
        return wakes_.size();
    }
    // Moves time on by d and wakes every sleeper whose time has come.
    void Advance(Micros d) {
        std::lock_guard lock(mutex_);
        now_ += d;
        cv_.notify_all();
    }
    // Moves time to the earliest wake-up and returns once that sleeper has left its sleep.
    bool AdvanceToNextWake() {
        std::unique_lock lock(mutex_);
        if (wakes_.empty()) return false;
        const Micros wake = *wakes_.begin();
        now_ = std::max(now_, wake);
        cv_.notify_all();
        cv_.wait_for(lock, std::chrono::seconds(10),
                     [&] { return wakes_.empty() || *wakes_.begin() > wake; });
        return true;
    }
    // From now on every sleep returns at once (after moving time by its length).
    void Release() {
        std::lock_guard lock(mutex_);
        released_ = true;
        cv_.notify_all();
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    Micros now_{0};
    std::multiset<Micros> wakes_;
    bool released_ = false;
};
