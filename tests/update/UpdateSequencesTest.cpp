// Sequences A and B: the bytes and waits in their order against a scripted port, and the
// outcomes against virtual modules with their bootloaders' faults.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "support/ScriptedPort.h"
#include "update/ImageFile.h"
#include "update/UpdateFixture.h"
#include "update/UpdateSequences.h"

namespace {

const Frame kAck{0x06};
const Frame kKey{'1'};

// A banner with `marks` "=" from 74 on, nothing else that counts.
Frame Banner(std::size_t marks) {
    Frame f(74, '-');
    f.insert(f.end(), marks, '=');
    f.push_back('\r');
    f.push_back('\n');
    return f;
}

// A reply to the key with "C" at `at` only.
Frame ReadyAt(std::size_t at) {
    Frame f(at, 'w');
    f.push_back('C');
    f.push_back('\r');
    return f;
}

std::string AsString(const Frame& f) {
    return {f.begin(), f.end()};
}

class ScriptedSequenceTest : public ::testing::Test {
protected:
    ScriptedSequenceTest() : port(clock) {
        port.Open();
        link.protocol = &rtu;
        link.port = &port;
        image = files.Write(TaggedImage(100));
    }
    std::size_t Count(const Frame& f) const {
        return static_cast<std::size_t>(std::count(port.writes.begin(), port.writes.end(), f));
    }

    VirtualClock clock;
    ScriptedPort port;
    CModbusRtu rtu;
    LinkState link;
    UpdateLog log;
    std::atomic<std::uint32_t> progress{7};
    UpdateSequences seq{link, clock, progress};
    ImageFiles files;
    std::string image;
    std::vector<ModuleState> shown;
    UpdateSequences::StateCallback show = [this](ModuleState s) { shown.push_back(s); };
};

}  // namespace

TEST(UpdateHandshake, FourDigitsOfTheAddressThenTheAccessCode) {
    EXPECT_EQ(UpdateSequences::HandshakeText(7), "ID0007TOKENKEY7305");
    EXPECT_EQ(UpdateSequences::HandshakeText(47), "ID0047TOKENKEY7305");
    EXPECT_EQ(UpdateSequences::HandshakeText(200), "ID0200TOKENKEY7305");
    EXPECT_EQ(UpdateSequences::HandshakeText(200).size(), 18u);
    EXPECT_EQ(UpdateSequences::HandshakeText(0), "");
    EXPECT_EQ(UpdateSequences::HandshakeText(248), "");
}

TEST_F(ScriptedSequenceTest, SequenceAWaitsEveryPrescribedWaitAndJudgesBySnapshots) {
    port.replies = {RegistersReply(47, 30, 6000), Banner(4), ReadyAt(35), kAck, kAck, kAck, kAck,
                    RegistersReply(47, 30, 6000), Frame{},   Frame{}};
    EXPECT_EQ(seq.SequenceA(47, image, log, show), ModuleState::UpdatedCalOk);
    EXPECT_EQ(shown, (std::vector<ModuleState>{ModuleState::Updating, ModuleState::UpdatedCalOk}));
    EXPECT_EQ(progress.load(), 0u);

    const Frame snapshot = WithCrc({47, 0x03, 0x01, 0x78, 0x00, 0x1E});
    ASSERT_EQ(port.writes.size(), 10u);
    EXPECT_EQ(port.writes[0], snapshot);
    EXPECT_EQ(AsString(port.writes[1]), "ID0047TOKENKEY7305");
    EXPECT_EQ(port.writes[2], kKey);
    EXPECT_EQ(port.writes[3].size(), 133u);  // header, block, EOT, closing
    EXPECT_EQ(port.writes[4].size(), 1029u);
    EXPECT_EQ(port.writes[7], snapshot);
    EXPECT_EQ(port.writes[8], kKey);  // "====": the key once for each of 74, 75 and 76
    EXPECT_EQ(port.writes[9], kKey);
    // 150 | 800 + 800 | 5000 + 2000 + 1000, 1000 + 1000 | transfer | 6000 | 200 + 200 | 8000
    EXPECT_EQ(port.writeTimesMs,
              (std::vector<std::int64_t>{0, 150, 1750, 11750, 12150, 12350, 12550, 18553, 18953, 26953}));
    EXPECT_EQ(clock.nowMs(), 34953);
    EXPECT_EQ(log.Text(), AsString(Banner(4)) + "\r\n" + AsString(ReadyAt(35)) + "\r\n\r\n\r\n");
}

TEST_F(ScriptedSequenceTest, OnlyAPairOfMarksCountsAndNoReadyLeavesTheModuleUntouched) {
    port.replies = {RegistersReply(5, 30), Banner(3), ReadyAt(38), Frame{}};
    EXPECT_EQ(seq.SequenceA(5, image, log, show), std::nullopt);  // "C" at 38 is not sequence A's
    EXPECT_TRUE(shown.empty());
    EXPECT_EQ(Count(kKey), 2u);  // "===" at 74..76: pairs at 74 and 75
    EXPECT_EQ(port.writes.size(), 4u);

    port.writes.clear();
    port.replies = {RegistersReply(5, 30), Banner(1)};
    EXPECT_EQ(seq.SequenceA(5, image, log, show), std::nullopt);
    EXPECT_EQ(port.writes.size(), 2u);  // snapshot and handshake only
    EXPECT_EQ(clock.nowMs(), 1750 + 2 * 8000 + 1750);
}

TEST_F(ScriptedSequenceTest, ReadyAt38StartsSequenceBWithItsOwnWaits) {
    port.replies = {Frame{'m', 'e', 'n', 'u'}, ReadyAt(38), kAck, kAck, kAck, kAck};
    EXPECT_EQ(seq.SequenceB(image, log), UpdateSequences::RetryOutcome::Delivered);
    ASSERT_EQ(port.writes.size(), 6u);
    EXPECT_EQ(port.writes[0], kKey);
    EXPECT_EQ(port.writes[1], kKey);
    // 200 + 2000 | 6000 + 1000 + 2000 + 3000 + 1000
    EXPECT_EQ(port.writeTimesMs[1], 2200);
    EXPECT_EQ(port.writeTimesMs[2], 2200 + 13000);
    EXPECT_EQ(log.Text(), "menu\r\n" + AsString(ReadyAt(38)) + "\r\n");

    port.writes.clear();
    port.replies = {Frame{}, ReadyAt(34)};
    EXPECT_EQ(seq.SequenceB(image, log), UpdateSequences::RetryOutcome::NoBootloader);
    EXPECT_EQ(port.writes.size(), 2u);
}

TEST_F(ScriptedSequenceTest, AFailedSnapshotBeforeGivesNoReferenceAndAfterGivesNoVerdict) {
    port.replies = {Frame{0x01, 0x83, 0x02}, Banner(2), ReadyAt(0), kAck, kAck, kAck, kAck,
                    RegistersReply(5, 30)};
    EXPECT_EQ(seq.SequenceA(5, image, log, show), ModuleState::UpdatedNoReference);

    // A good frame of fewer registers than the snapshot has is no snapshot.
    port.replies = {RegistersReply(5, 30), Banner(2), ReadyAt(0), kAck, kAck, kAck, kAck,
                    RegistersReply(5, 29)};
    shown.clear();
    EXPECT_EQ(seq.SequenceA(5, image, log, show), ModuleState::Updating);
    EXPECT_EQ(shown, (std::vector<ModuleState>{ModuleState::Updating}));
}

TEST_F(ScriptedSequenceTest, AnImageThatCannotBeSentIsRefusedBeforeTheModuleIsTouched) {
    EXPECT_EQ(seq.SequenceA(5, ::testing::TempDir() + "no-such.bin", log, show),
              ModuleState::ImageUnreadable);
    EXPECT_NE(seq.Problem().find("no-such.bin"), std::string::npos) << seq.Problem();
    EXPECT_EQ(seq.SequenceA(5, ::testing::TempDir(), log, show), ModuleState::ImageUnreadable);  // a folder
    const std::string deep = ::testing::TempDir() + std::string(120, 'd');
    EXPECT_EQ(seq.SequenceA(5, deep, log, show), ModuleState::ImageUnreadable);
    EXPECT_EQ(seq.SequenceB(::testing::TempDir() + "no-such.bin", log),
              UpdateSequences::RetryOutcome::ImageUnreadable);
    EXPECT_TRUE(port.writes.empty());
    EXPECT_TRUE(log.Text().empty());
}

TEST(UpdateImagePath, TooLongForTheHeaderIsRefusedBeforeAnythingIsSent) {
    VirtualClock clock;
    ScriptedPort port(clock);
    port.Open();
    CModbusRtu rtu;
    LinkState link{1, 1, 8, 0, 0, &rtu, &port};
    UpdateLog log;
    std::atomic<std::uint32_t> progress{0};
    UpdateSequences seq(link, clock, progress);
    ImageFiles files;
    // Paths of 123 and 124 bytes: with the three digits of "100", 126 fit and 127 do not.
    const std::size_t base = files.Write(TaggedImage(100), "p").size();
    const std::string fits = files.Write(TaggedImage(100), std::string(123 - base + 1, 'p'));
    const std::string path = files.Write(TaggedImage(100), std::string(124 - base + 1, 'p'));
    ASSERT_EQ(fits.size(), 123u);
    ASSERT_EQ(path.size(), 124u);
    EXPECT_EQ(seq.SequenceA(5, path, log), ModuleState::PathTooLong);
    EXPECT_EQ(seq.SequenceB(path, log), UpdateSequences::RetryOutcome::PathTooLong);
    EXPECT_TRUE(port.writes.empty());
    EXPECT_EQ(seq.SequenceA(5, fits, log), std::nullopt);  // sent, and nobody answered
    EXPECT_EQ(port.writes.size(), 2u);
}

TEST(UpdateImageFile, ReadWholeOrSaysWhy) {
    ImageFiles files;
    const auto bytes = TaggedImage(3000);
    std::string why;
    EXPECT_EQ(ReadImage(files.Write(bytes), why), bytes);
    EXPECT_FALSE(ReadImage("/nonexistent/fw.bin", why));
    EXPECT_EQ(why, "cannot open /nonexistent/fw.bin: No such file or directory");
}

// Nothing a module could not take as firmware passes, and a FIFO is refused by its type:
// opening it for reading would wait for a writer that never comes.
TEST(UpdateImageFile, OnlyARegularFileOfOneByteUpToTheCapIsAnImage) {
    ImageFiles files;
    std::string why;
    const std::string empty = files.Write({});
    EXPECT_FALSE(ProbeImage(empty, why));
    EXPECT_EQ(why, "cannot send " + empty + ": the image is empty");
    EXPECT_FALSE(ReadImage(empty, why));

    const std::string fifo = files.Write({}, "fifo");
    ASSERT_EQ(::unlink(fifo.c_str()), 0);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(ReadImage(fifo, why));
    EXPECT_EQ(why, "cannot send " + fifo + ": a FIFO, not a firmware image");
    EXPECT_FALSE(ProbeImage("/dev/zero", why));
    EXPECT_EQ(why, "cannot send /dev/zero: a device, not a firmware image");
    EXPECT_FALSE(ProbeImage(::testing::TempDir(), why));
    EXPECT_NE(why.find("a folder"), std::string::npos) << why;

    // Sparse files: the size is what counts, not what the disk holds.
    const std::string atCap = files.Write({1});
    const std::string overCap = files.Write({1});
    ASSERT_EQ(::truncate(atCap.c_str(), kImageCapBytes), 0);
    ASSERT_EQ(::truncate(overCap.c_str(), kImageCapBytes + 1), 0);
    EXPECT_EQ(ProbeImage(atCap, why), kImageCapBytes);
    EXPECT_FALSE(ReadImage(overCap, why));
    EXPECT_EQ(why,
              "cannot send " + overCap + ": 1048577 bytes, more than the 1048576 a firmware image may have");
    EXPECT_EQ(ProbeImage(overCap, why, true), kImageCapBytes + 1);

    // The cap holds in the sequences too, before the module is touched, unless lifted.
    VirtualClock clock;
    ScriptedPort port(clock);
    port.Open();
    CModbusRtu rtu;
    LinkState link{1, 1, 8, 0, 0, &rtu, &port};
    UpdateLog log;
    std::atomic<std::uint32_t> progress{0};
    UpdateSequences seq(link, clock, progress);
    EXPECT_EQ(seq.SequenceA(5, overCap, log), ModuleState::ImageUnreadable);
    EXPECT_EQ(seq.SequenceB(empty, log), UpdateSequences::RetryOutcome::ImageUnreadable);
    EXPECT_TRUE(port.writes.empty());
    seq.LiftImageCap(true);
    EXPECT_EQ(seq.SequenceA(5, overCap, log), std::nullopt);  // sent, and nobody answered
    EXPECT_EQ(port.writes.size(), 2u);
}

TEST(UpdateImageFile, TheFullPathIsAbsoluteAndTidyWhereThatNamesTheSameFile) {
    EXPECT_EQ(FullImagePath("fw.bin"), std::filesystem::current_path().string() + "/fw.bin");
    EXPECT_EQ(FullImagePath("/opt//fw/./x.bin"), "/opt/fw/x.bin");
    const std::string dir = ::testing::TempDir() + "kvt40-img-" + std::to_string(::getpid());
    std::filesystem::create_directories(dir + "/deep/er");
    std::ofstream(dir + "/fw.bin") << "x";
    EXPECT_EQ(FullImagePath(dir + "/deep/../fw.bin"), dir + "/fw.bin");
    // Through a symbolic link, ".." is the folder of what it points to: kept as typed.
    std::filesystem::create_directory_symlink(dir + "/deep/er", dir + "/link");
    EXPECT_EQ(FullImagePath(dir + "/link/../fw.bin"), dir + "/link/../fw.bin");
    std::filesystem::remove_all(dir);
}

// Against virtual modules on the bus.

TEST(UpdateOnTheBus, AModuleTakesTheImageKeepsItsCalibrationAndRunsTheNewVersion) {
    BusRig<VirtualClock> rig({5});
    ImageFiles files;
    const auto bytes = TaggedImage(3000);
    const std::string path = files.Write(bytes);
    const auto before = rig.bus.ReadRegister(5, 376);
    EXPECT_EQ(rig.sequences.SequenceA(5, path, rig.log), ModuleState::UpdatedCalOk);
    rig.Loader(5, [&](Bootloader& b, VirtualModule& m) {
        EXPECT_EQ(b.Programmed(), bytes);
        EXPECT_EQ(b.ProgrammedName(), path);
        EXPECT_EQ(b.Programs(), 1);
        EXPECT_EQ(m.CurrentMode(), VirtualModule::Mode::Application);
    });
    EXPECT_EQ(rig.bus.ReadRegister(5, 9500), 105);
    EXPECT_EQ(rig.bus.ReadRegister(5, 376), before);
    const std::string log = rig.log.Text();
    EXPECT_EQ(log.rfind(Bootloader::Banner(5) + "\r\n", 0), 0u);
    EXPECT_NE(log.find(std::string(Bootloader::kReadyText) + "C\r\n"), std::string::npos);
}

TEST(UpdateOnTheBus, EachModuleIsJudgedByItsOwnSnapshots) {
    BusRig<VirtualClock> rig({1, 2});
    Bootloader::Faults changes;
    changes.snapshotChanges = true;
    rig.Faults(1, changes);
    ImageFiles files;
    const std::string path = files.Write(TaggedImage(2000));
    EXPECT_EQ(rig.sequences.SequenceA(1, path, rig.log), ModuleState::UpdatedCalChanged);
    EXPECT_EQ(rig.sequences.SequenceA(2, path, rig.log), ModuleState::UpdatedCalOk);
    EXPECT_EQ(rig.sequences.SequenceA(1, path, rig.log), ModuleState::UpdatedCalChanged);
}

TEST(UpdateOnTheBus, AModuleLeftInItsBootloaderIsUpdatedWithoutACalibrationReference) {
    BusRig<VirtualClock> rig({3});
    rig.Loader(3, [](Bootloader& b, VirtualModule& m) { b.EnterBootloader(m); });
    ImageFiles files;
    EXPECT_EQ(rig.sequences.SequenceA(3, files.Write(TaggedImage(2000)), rig.log),
              ModuleState::UpdatedNoReference);
}

TEST(UpdateOnTheBus, ANakIsWaitedOutAndABlockLostTwiceFailsUntilTheNextMarkTriesAgain) {
    BusRig<VirtualClock> rig({4});
    ImageFiles files;
    const std::string path = files.Write(TaggedImage(5000));
    Bootloader::Faults nak;
    nak.nakBlock = 2;
    rig.Faults(4, nak);
    const std::int64_t start = rig.clock.nowMs();
    EXPECT_EQ(rig.sequences.SequenceA(4, path, rig.log), ModuleState::UpdatedCalOk);
    EXPECT_GT(rig.clock.nowMs() - start, 200 * 1000);  // a thousand polls before the block went again

    Bootloader::Faults drop;
    drop.dropBlock = 3;
    drop.dropCount = 2;
    rig.Faults(4, drop);
    std::vector<ModuleState> shown;
    EXPECT_EQ(rig.sequences.SequenceA(4, path, rig.log, [&](ModuleState s) { shown.push_back(s); }),
              ModuleState::UpdatedCalOk);
    EXPECT_EQ(shown, (std::vector<ModuleState>{ModuleState::Updating, ModuleState::Failed,
                                               ModuleState::Updating, ModuleState::UpdatedCalOk}));
}

TEST(UpdateOnTheBus, AModuleThatIgnoresTheHandshakeIsLeftRunning) {
    BusRig<VirtualClock> rig({6});
    Bootloader::Faults mute;
    mute.ignoreHandshake = true;
    rig.Faults(6, mute);
    ImageFiles files;
    EXPECT_EQ(rig.sequences.SequenceA(6, files.Write(TaggedImage(2000)), rig.log), std::nullopt);
    EXPECT_EQ(rig.bus.ReadRegister(6, 500), 6);
    EXPECT_EQ(rig.log.Text(), "\r\n");  // an empty reply still takes its line
    EXPECT_EQ(rig.SentStartingWith(0x01), 0u);
}

TEST(UpdateOnTheBus, AnImageGoneAtTransferTimeIsNotSentAndNotTriedAgain) {
    BusRig<VirtualClock> rig({7});
    ImageFiles files;
    const std::string path = files.Write(TaggedImage(2000));
    const auto state = rig.sequences.SequenceA(7, path, rig.log, [&](ModuleState s) {
        if (s == ModuleState::Updating) (void)::unlink(path.c_str());
    });
    EXPECT_EQ(state, ModuleState::ImageUnreadable);
    EXPECT_NE(rig.sequences.Problem().find(path), std::string::npos);
    EXPECT_EQ(rig.SentStartingWith(0x01), 0u);
    EXPECT_EQ(rig.SentStartingWith('1'), 1u);
}
