// The pause under a running worker, held at a chosen point by the stepped clock: the port
// closed from this thread ends the worker's waits at once, the module in hand fails, the
// following modules are skipped without a byte. Runs under the thread sanitizer.
#include <gtest/gtest.h>

#include <thread>

#include "support/SteppedClock.h"
#include "update/UpdateBatch.h"
#include "update/UpdateFixture.h"

namespace {

class PauseTest : public ::testing::Test {
protected:
    PauseTest() : rig({1, 2, 3}) { path = files.Write(TaggedImage(8 * 1024)); }
    ~PauseTest() override {
        rig.clock.Release();
        if (worker.joinable()) worker.join();
    }
    // Moves the worker on, wake-up by wake-up, until `reached` holds while it sleeps.
    template <typename Condition>
    void HoldWhen(Condition reached) {
        while (true) {
            ASSERT_TRUE(rig.clock.WaitForSleepers(1));
            if (reached()) return;
            rig.clock.AdvanceToNextWake();
        }
    }
    // Closes the port as the pause does and lets the worker run out; the clock time it
    // still spent after the close.
    Clock::Micros PauseAndJoin() {
        const Clock::Micros closedAt = rig.clock.now();
        rig.port.Close();
        rig.clock.Release();
        worker.join();
        return rig.clock.now() - closedAt;
    }
    bool KeySent() const {
        for (const auto& f : rig.port.Sent())
            if (f == std::vector<std::uint8_t>{'1'}) return true;
        return false;
    }

    BusRig<SteppedClock> rig;
    ImageFiles files;
    std::string path;
    std::thread worker;
};

constexpr Clock::Micros kOneSlice(LinkWait::kSliceMs * 1000);

}  // namespace

TEST_F(PauseTest, DuringATransferTheModuleFailsAtOnceAndTheOthersAreSkipped) {
    UpdateBatch batch;
    batch.SetFound({1, 2, 3});
    const auto rows = batch.Queue({true, true, true});
    batch.Begin();
    worker = std::thread([&] { batch.Run(rows, rig.sequences, path, rig.log); });
    HoldWhen([&] { return rig.progress.load() >= 3 * 1024; });  // polling for block 4's ACK
    EXPECT_EQ(batch.State(1), ModuleState::Updating);
    const std::size_t logBefore = rig.log.Text().size();

    EXPECT_LE(PauseAndJoin(), kOneSlice);
    EXPECT_FALSE(batch.Busy());
    EXPECT_EQ(batch.State(1), ModuleState::Failed);
    // Never asked, and they say why rather than "等待中" for good.
    EXPECT_EQ(batch.State(2), ModuleState::NotUpdatedPaused);
    EXPECT_EQ(batch.State(3), ModuleState::NotUpdatedPaused);
    EXPECT_EQ(rig.log.Text().size(), logBefore);  // modules 2 and 3 were never asked
    EXPECT_FALSE(rig.port.IsOpen());
}

TEST_F(PauseTest, BeforeTheTransferTheModuleFailsTooAndNothingIsSent) {
    std::optional<ModuleState> state;
    worker = std::thread([&] { state = rig.sequences.SequenceA(2, path, rig.log); });
    HoldWhen([&] { return KeySent(); });  // inside the 5000 ms after the key
    EXPECT_LE(PauseAndJoin(), kOneSlice);
    EXPECT_EQ(state, ModuleState::Failed);
    EXPECT_EQ(rig.SentStartingWith(0x01), 0u);
}

TEST_F(PauseTest, TheRetryInTransferFailsAtOnce) {
    rig.Loader(2, [](Bootloader& b, VirtualModule& m) { b.EnterBootloader(m); });
    UpdateLog retryLog;
    auto outcome = UpdateSequences::RetryOutcome::NoBootloader;
    worker = std::thread([&] { outcome = rig.sequences.SequenceB(path, retryLog); });
    HoldWhen([&] { return rig.progress.load() >= 1024; });
    EXPECT_LE(PauseAndJoin(), kOneSlice);
    EXPECT_EQ(outcome, UpdateSequences::RetryOutcome::Failed);
}
