// The batch: found rows, the queue, one module after the other with its own state, and the
// retry bringing back the one that failed; the progress texts the forms show.
#include <gtest/gtest.h>

#include "update/UpdateBatch.h"
#include "update/UpdateFixture.h"
#include "update/UpdateShared.h"

TEST(UpdateProgressText, WholeKibibytesAndNoDivisionForImagesUnder1KiB) {
    EXPECT_EQ(ProgressText(0, 60 * 1024), "0k / 60k");
    EXPECT_EQ(ProgressText(12 * 1024 + 1023, 60 * 1024), "12k / 60k");
    EXPECT_EQ(ProgressText(0, 500), "0k / 0k");
    EXPECT_EQ(ProgressPercent(0, 500), 0);
    EXPECT_EQ(ProgressPercent(400, 500), 0);
    EXPECT_EQ(ProgressPercent(59 * 1024, 60 * 1024), 98);
    EXPECT_EQ(ProgressPercent(30 * 1024, 60 * 1024), 50);
    EXPECT_EQ(ProgressPercent(4000000000u, 60 * 1024), 100);
}

TEST(UpdateBatchRows, FoundRowsWaitAndSelectedOnesAreQueued) {
    UpdateBatch batch;
    batch.SetFound({5, 100, 247});
    EXPECT_EQ(batch.FoundCount(), 3);
    EXPECT_EQ(batch.FoundAddress(2), 100);
    EXPECT_EQ(batch.FoundAddress(4), 0);
    EXPECT_EQ(batch.State(3), ModuleState::Waiting);
    EXPECT_EQ(batch.State(4), ModuleState::Blank);
    EXPECT_TRUE(batch.Queue({false, false, false}).empty());
    EXPECT_EQ(batch.State(1), ModuleState::Waiting);
    const auto rows = batch.Queue({true, false, true});
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[1].address, 100);
    EXPECT_FALSE(rows[1].selected);
    EXPECT_EQ(batch.State(1), ModuleState::Queued);
    EXPECT_EQ(batch.State(2), ModuleState::Waiting);
    batch.SetFound({9});
    EXPECT_EQ(batch.State(3), ModuleState::Blank);
}

TEST(UpdateBatchRun, ThreeModulesOneVanishingMidTransferThenTheRetryBringsItBack) {
    BusRig<VirtualClock> rig({1, 2, 3, 4});
    Bootloader::Faults vanish;
    vanish.vanishAtBlock = 3;
    vanish.vanishMs = 20 * 60 * 1000;  // back only after the batch, or it would hear module 4's key
    rig.Faults(2, vanish);
    ImageFiles files;
    const auto bytes = TaggedImage(10 * 1024, "VER=201");
    const std::string path = files.Write(bytes);

    UpdateBatch batch;
    batch.SetFound({1, 2, 3, 4});
    const auto rows = batch.Queue({true, true, false, true});
    batch.Begin();
    EXPECT_TRUE(batch.Busy());
    batch.Run(rows, rig.sequences, path, rig.log);
    EXPECT_FALSE(batch.Busy());
    EXPECT_EQ(batch.CurrentRow(), 4);
    EXPECT_EQ(batch.State(1), ModuleState::UpdatedCalOk);
    EXPECT_EQ(batch.State(2), ModuleState::Failed);
    EXPECT_EQ(batch.State(3), ModuleState::Waiting);  // not selected: never touched
    EXPECT_EQ(batch.State(4), ModuleState::UpdatedCalOk);
    EXPECT_EQ(rig.bus.ReadRegister(1, 9500), 201);
    EXPECT_EQ(rig.bus.ReadRegister(3, 9500), 104);
    EXPECT_EQ(rig.bus.ReadRegister(4, 9500), 201);
    for (const auto& f : rig.port.Sent()) {
        EXPECT_FALSE(f.size() == 8 && f[0] == 3);  // no request to the unselected module
    }

    // Module 2 came back in its bootloader; the retry sends the image again.
    rig.clock.advanceMs(vanish.vanishMs);
    UpdateLog retryLog;
    EXPECT_EQ(rig.sequences.SequenceB(path, retryLog), UpdateSequences::RetryOutcome::Delivered);
    EXPECT_EQ(rig.bus.ReadRegister(2, 9500), 201);
    rig.Loader(2, [&](Bootloader& b, VirtualModule&) { EXPECT_EQ(b.Programmed(), bytes); });
    EXPECT_NE(retryLog.Text().find(std::string(Bootloader::kReadyText) + "C\r\n"), std::string::npos);
    // With nothing waiting in a bootloader, the retry finds no "C" and sends nothing.
    const std::size_t before = rig.port.Sent().size();
    EXPECT_EQ(rig.sequences.SequenceB(path, retryLog), UpdateSequences::RetryOutcome::NoBootloader);
    EXPECT_EQ(rig.port.Sent().size(), before + 2);
}

TEST(UpdateBatchRun, AQueuedRowTheBatchPassesWithoutATransferSaysWhy) {
    BusRig<VirtualClock> rig({1, 2, 3});
    Bootloader::Faults silent;
    silent.ignoreHandshake = true;
    rig.Faults(2, silent);
    ImageFiles files;
    const std::string path = files.Write(TaggedImage(2 * 1024));

    UpdateBatch batch;
    batch.SetFound({1, 2, 3});
    auto rows = batch.Queue({false, true, true});
    batch.Begin();
    batch.Run(rows, rig.sequences, path, rig.log);
    EXPECT_EQ(batch.State(1), ModuleState::Waiting);  // not selected
    EXPECT_EQ(batch.State(2), ModuleState::NotUpdatedNoAnswer);
    EXPECT_EQ(batch.State(3), ModuleState::UpdatedCalOk);
    EXPECT_TRUE(IsDelivered(batch.State(3)));
    EXPECT_FALSE(IsDelivered(ModuleState::Updating));  // delivered without a verdict is not known

    // Started after a pause closed the port: nothing is sent, and no row is left "等待中".
    rig.port.Close();
    const std::size_t sent = rig.port.Sent().size();
    rows = batch.Queue({true, true, false});
    batch.Begin();
    batch.Run(rows, rig.sequences, path, rig.log);
    EXPECT_EQ(rig.port.Sent().size(), sent);
    EXPECT_EQ(ModuleStateText(batch.State(1)), "未升级,已暂停!");
    EXPECT_EQ(ModuleStateText(batch.State(2)), "未升级,已暂停!");
    EXPECT_EQ(batch.State(3), ModuleState::UpdatedCalOk);
}

TEST(UpdateSharedLink, TheScanAndEveryTransferExcludeEachOtherAndTheRefusalNamesWhoHoldsIt) {
    using U = UpdateShared::LinkUser;
    UpdateShared shared;
    EXPECT_EQ(LinkBusyText(shared.LinkOwner()), "");
    ASSERT_TRUE(shared.TryAcquireLink(U::Scan));
    for (U other : {U::Scan, U::Batch, U::Retry}) EXPECT_FALSE(shared.TryAcquireLink(other));
    EXPECT_EQ(shared.LinkOwner(), U::Scan);
    EXPECT_EQ(LinkBusyText(shared.LinkOwner()), "正在查询模块,请先停止查询再升级!");
    shared.ReleaseLink();
    ASSERT_TRUE(shared.TryAcquireLink(U::Retry));
    EXPECT_FALSE(shared.TryAcquireLink(U::Scan));
    EXPECT_FALSE(shared.TryAcquireLink(U::Batch));
    EXPECT_EQ(LinkBusyText(shared.LinkOwner()), "另一个升级正在进行,请稍候!");
    shared.ReleaseLink();
    EXPECT_FALSE(shared.TryAcquireLink(U::None));  // nobody is no owner
    EXPECT_FALSE(shared.LinkOwned());
}
