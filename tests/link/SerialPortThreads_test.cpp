#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "link/SerialPort.h"
#include "support/Pty.h"
#include "support/PtyTrickle.h"

namespace {

using Ms = std::chrono::milliseconds;
using SteadyClock = std::chrono::steady_clock;

template <typename Pred>
bool WaitUntil(Pred done, Ms bound = Ms(2000)) {
    const auto until = SteadyClock::now() + bound;
    while (!done()) {
        if (SteadyClock::now() >= until) return false;
        std::this_thread::yield();
    }
    return true;
}

// Calls after Close, the way a worker that has not yet noticed the pause goes on.
int NonzeroCallsAfterClose(CSerialPort& port) {
    std::array<std::uint8_t, 64> buf{};
    const std::array<std::uint8_t, 8> req{1, 3, 0, 0, 0, 10, 0xC5, 0xCD};
    int nonzero = 0;
    for (int i = 0; i < 100; ++i) nonzero += (port.Write(req) != 0) + (port.Read(buf) != 0);
    return nonzero;
}

// The pause closes the port from the user-interface thread while the update worker is inside
// a Read that waits for the rest of a reply (a byte every 5 ms, far below the 102 ms gap at
// 300 baud, and 1000 bytes asked: the Read would go on for seconds). No descriptor Close has
// closed may be touched, so a Read that used its descriptor outside the lock is a race the
// thread sanitizer reports every round; Close must also cut the wait short.
TEST(SerialPortThreads, CloseWhileAReadWaitsForTheRestOfAReply) {
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        Pty pty;
        ASSERT_TRUE(pty.ok());
        CSerialPort port;
        ASSERT_TRUE(port.Open(pty.path(), 300, 8, 0, 0));
        PtyTrickle peer(pty, 1, 5);
        ASSERT_TRUE(peer.WaitSent(3));  // bytes wait, so the Read below cannot return at once

        std::atomic<bool> entered{false};
        std::atomic<int> got{-1};
        std::atomic<int> nonzeroAfter{-1};
        std::thread worker([&] {
            std::vector<std::uint8_t> buf(1000, 0xAA);
            entered = true;
            got = port.Read(buf);
            int leftOver = 0;
            for (auto b : buf) leftOver += b != 0;
            if (leftOver != 0) got = -2;  // a Read cut short must leave the buffer zeroed
            nonzeroAfter = NonzeroCallsAfterClose(port);
        });
        // Not ASSERT from here on: the worker must be closed out and joined either way.
        EXPECT_TRUE(WaitUntil([&] { return entered.load(); }));
        EXPECT_TRUE(peer.WaitSent(peer.Sent() + 4));  // 20 ms on: the Read is inside its wait

        const auto t0 = SteadyClock::now();
        port.Close();
        const auto closeTook = SteadyClock::now() - t0;
        worker.join();
        EXPECT_LT(closeTook, Ms(300));
        EXPECT_EQ(got.load(), 0);
        EXPECT_EQ(nonzeroAfter.load(), 0);
        EXPECT_FALSE(port.IsOpen());
    }
}

// The menu's enable check asks IsOpen on the user-interface thread while the update worker
// writes a block; a Write into a pty nobody reads blocks once the pty's buffer is full, so it
// stands for a long transfer. IsOpen must answer at once, and Close must end the Write soon.
TEST(SerialPortThreads, IsOpenAndCloseDoNotWaitForALongWrite) {
    Pty pty;
    ASSERT_TRUE(pty.ok());
    CSerialPort port;
    ASSERT_TRUE(port.Open(pty.path(), 1200, 8, 0, 0));
    std::atomic<int> written{-1};
    std::thread worker([&] {
        const std::vector<std::uint8_t> block(1 << 20, 0x55);  // 2.6 hours at 1200 baud
        written = port.Write(block);
    });
    // Bytes at the master: the worker is inside Write, and stays there until closed.
    const bool writing = WaitUntil([&] {
        int pending = 0;
        return ioctl(pty.master(), FIONREAD, &pending) == 0 && pending > 0;
    });
    EXPECT_TRUE(writing);

    std::atomic<bool> answered{false};
    std::atomic<bool> openSeen{false};
    std::thread menu([&] {
        openSeen = port.IsOpen();
        answered = true;
    });
    const bool quick = WaitUntil([&] { return answered.load(); }, Ms(500));

    // Close comes whether or not IsOpen answered: it is what lets a waiting IsOpen go on.
    // From its own thread, so that a Close that waits for the Write fails the test instead
    // of hanging it: the master is then drained, which lets the Write finish.
    std::atomic<bool> closed{false};
    const auto t0 = SteadyClock::now();
    std::thread ui([&] {
        port.Close();
        closed = true;
    });
    const bool prompt = WaitUntil([&] { return closed.load(); }, Ms(300));
    while (!closed) {
        std::uint8_t sink[4096];
        if (::read(pty.master(), sink, sizeof sink) <= 0) std::this_thread::yield();
    }
    ui.join();
    worker.join();
    menu.join();
    EXPECT_TRUE(prompt) << "Close waited " << std::chrono::duration_cast<Ms>(SteadyClock::now() - t0).count()
                        << " ms for the Write";
    EXPECT_TRUE(quick) << "IsOpen waited for the Write";
    EXPECT_TRUE(!quick || openSeen.load());
    EXPECT_EQ(written.load(), 0);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(NonzeroCallsAfterClose(port), 0);
}

}  // namespace
