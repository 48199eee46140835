// A worker's exchanges held at a chosen block by the stepped clock, then ended by a Close
// from the test thread, as the update's pause does. Runs under the thread sanitizer.
#include "support/SteppedClock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "link/ModbusSession.h"
#include "support/ScriptedPort.h"

TEST(SteppedClock, HoldsAWorkerAtAChosenBlockUntilTheTestActs) {
    SteppedClock clock;
    ScriptedPort port(clock);
    port.Open();
    port.answerReads = true;
    LinkState link;
    CModbusRtu rtu;
    link.protocol = &rtu;
    link.port = &port;

    std::atomic<int> blocks{0};
    ExchangeFailure last = ExchangeFailure::None;
    std::thread worker([&] {
        ModbusSession s(link, clock);
        for (int i = 0; i < 100; ++i) {
            if (!s.ReadRegisters(i, 10, 200)) break;
            ++blocks;
        }
        last = s.LastFailure();
    });
    while (true) {
        ASSERT_TRUE(clock.WaitForSleepers(1));
        if (blocks == 3) break;
        clock.AdvanceToNextWake();
    }
    // Held inside block 3: nothing moves while the test does not advance.
    EXPECT_EQ(clock.Sleepers(), 1u);
    EXPECT_EQ(blocks, 3);
    EXPECT_EQ(clock.now().count(), 3 * 200 * 1000);
    port.Close();
    clock.Release();
    worker.join();
    EXPECT_EQ(blocks, 3);
    EXPECT_EQ(last, ExchangeFailure::NoLink);
    EXPECT_EQ(port.ReadRequests().size(), 4u);
}
