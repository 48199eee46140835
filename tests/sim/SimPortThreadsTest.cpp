// The in-memory port used from a worker thread while the user-interface thread closes it,
// as the serial port is. Run under the thread sanitizer (label thread).
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>

#include "Deadline.h"
#include "link/LinkState.h"
#include "sim/SimPort.h"

namespace {

using namespace std::chrono_literals;

// Free-running like VirtualClock until gated; then every sleeper waits for Release.
class GateClock final : public Clock {
public:
    void sleep(int ms) override { sleepFor(Micros(std::int64_t{ms} * 1000)); }
    void sleepFor(Micros d) override {
        std::unique_lock lock(mutex_);
        if (gated_) {
            ++sleepers_;
            changed_.notify_all();
            changed_.wait(lock, [&] { return !gated_; });
            --sleepers_;
        }
        now_ += d;
    }
    Micros now() const override {
        const std::lock_guard lock(mutex_);
        return now_;
    }
    void Gate() {
        const std::lock_guard lock(mutex_);
        gated_ = true;
    }
    void Release() {
        const std::lock_guard lock(mutex_);
        gated_ = false;
        changed_.notify_all();
    }
    bool WaitForSleeper() {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 2s, [&] { return sleepers_ > 0; });
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    Micros now_{0};
    bool gated_ = false;
    int sleepers_ = 0;
};

std::vector<std::uint8_t> ReadFrame(int addr, int start, int count) {
    std::vector<std::uint8_t> req(8);
    CModbusRtu().BuildReadRegisters(req, addr, start, count);
    return req;
}

// Runs f on another thread; true when it returned within the bound.
template <typename F>
bool ReturnsPromptly(std::future<void>& call, F f) {
    call = std::async(std::launch::async, f);
    return call.wait_for(2s) == std::future_status::ready;
}

}  // namespace

TEST(SimPortThreads, CloseWhileAReadWaitsForBytesNeitherBlocksNorHandsOverLaterBytes) {
    GateClock clock;
    VirtualBus bus(clock);
    bus.AddModule(1);
    SimPort port(bus, clock);
    port.Open(9600);
    port.Write(ReadFrame(1, 0, 10));
    clock.sleep(15);  // the first byte is there, 24 are still on the wire
    clock.Gate();
    std::vector<std::uint8_t> rx(300, 0xEE);
    int got = -1;
    std::thread worker([&] { got = port.Read(rx); });
    ASSERT_TRUE(clock.WaitForSleeper());

    std::future<void> isOpen, close;
    bool open = false;
    EXPECT_TRUE(ReturnsPromptly(isOpen, [&] { open = port.IsOpen(); }));
    const bool closed = ReturnsPromptly(close, [&] { port.Close(); });
    EXPECT_TRUE(closed) << "Close waited for a Read asleep on the clock";
    if (closed) {
        EXPECT_TRUE(open);
        EXPECT_FALSE(port.IsOpen());
        // Opened again with a new reply pending: the old Read must not take its bytes.
        port.Open(9600);
        port.Write(ReadFrame(1, 500, 1));
    }
    clock.Release();
    worker.join();
    EXPECT_EQ(got, 0);
    EXPECT_EQ(rx, std::vector<std::uint8_t>(300, 0));
}

TEST(SimPortThreads, CallsAfterCloseReturnZeroWhileAWorkerPolls) {
    VirtualClock clock;
    VirtualBus bus(clock);
    bus.AddModule(1);
    SimPort port(bus, clock);
    port.Open(9600);
    // Odd while closed; the worker judges a call only when it saw the same odd value around it.
    std::atomic<int> epoch{0};
    std::atomic<int> cycles{0};
    std::atomic<int> wrong{0};
    std::atomic<int> answered{0};
    std::atomic<bool> stop{false};
    std::thread worker([&] {
        const auto req = ReadFrame(1, 0, 10);
        std::vector<std::uint8_t> rx(300);
        while (!stop) {
            const int before = epoch;
            const int w = port.Write(req);
            clock.sleep(200);
            const int r = port.Read(rx);
            if (before == epoch && before % 2 == 1 && (w != 0 || r != 0)) ++wrong;
            if (r == 25) ++answered;
            ++cycles;
        }
    });
    for (int i = 0; i < 100; ++i) {
        port.Close();
        ++epoch;
        const int seen = cycles;
        ASSERT_TRUE(WaitUntil([&] { return cycles >= seen + 2; }));
        ++epoch;
        port.Open(9600);
        (void)port.Sent();
        (void)port.ByteDueAt(0);
        const int later = cycles;
        ASSERT_TRUE(WaitUntil([&] { return cycles >= later + 2; }));
    }
    stop = true;
    worker.join();
    EXPECT_EQ(wrong, 0);
    EXPECT_GT(answered, 0);
}
