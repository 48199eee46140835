#pragma once
// Every wait of the protocol goes through a Clock. The app and the CLI use RealClock;
// tests use VirtualClock, whose sleep only moves time forward, so minutes pass in microseconds.

#include <atomic>
#include <chrono>
#include <cstdint>

// Thread contract: now() may be called from any thread; sleep() blocks only its caller.
class Clock {
public:
    using Micros = std::chrono::microseconds;
    virtual void sleep(int ms) = 0;
    // A wait shorter than a millisecond (wire time of a byte); the default rounds up to ms.
    virtual void sleepFor(Micros d) { sleep(static_cast<int>((d.count() + 999) / 1000)); }
    virtual Micros now() const = 0;
    std::int64_t nowMs() const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(now()).count();
    }
    virtual ~Clock() = default;
};

class RealClock final : public Clock {
public:
    void sleep(int ms) override;
    void sleepFor(Micros d) override;
    Micros now() const override;
};

class VirtualClock final : public Clock {
public:
    void sleep(int ms) override { advance(Micros(std::int64_t{ms} * 1000)); }
    void sleepFor(Micros d) override { advance(d); }
    Micros now() const override { return Micros(us_.load()); }
    void advance(Micros d) { us_ += d.count(); }
    void advanceMs(std::int64_t ms) { us_ += ms * 1000; }

private:
    std::atomic<std::int64_t> us_{0};
};
