// kvt40ctl scan, update and retry in-process, against virtual modules on the virtual clock:
// their lines, exit codes and usage errors.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>

#include "cli/Cli.h"
#include "update/ImageFile.h"
#include "update/UpdateFixture.h"

namespace {

class UpdateCliTest : public ::testing::Test {
protected:
    UpdateCliTest() : rig({1, 2, 3, 5}) {
        rig.port.Close();
        env.clock = &rig.clock;
        env.port = &rig.port;
        env.open = [this](const std::string&, int baud, int, int, int) {
            ++opens;
            return rig.port.Open(baud);
        };
        image = files.Write(TaggedImage(3000));
    }
    int Run(std::vector<std::string> args) {
        out.str("");
        err.str("");
        args.insert(args.begin(), {"--port", "/dev/pts/9"});
        return RunCliArgs(args, env, out, err);
    }

    BusRig<VirtualClock> rig;
    CliEnv env{rig.run};
    int opens = 0;
    ImageFiles files;
    std::string image;
    std::ostringstream out, err;
};

}  // namespace

TEST_F(UpdateCliTest, ScanPrintsOneFoundAddressPerLine) {
    EXPECT_EQ(Run({"scan", "--from", "2", "--to", "6"}), kExitOk);
    EXPECT_EQ(out.str(), "2\n3\n5\n");
    EXPECT_EQ(err.str(), "");  // no progress line: stderr is no terminal here
    EXPECT_EQ(Run({"scan", "--from", "5", "--to", "5"}), kExitOk);
    EXPECT_EQ(out.str(), "5\n");
}

TEST_F(UpdateCliTest, EveryModuleGetsItsLineAndOnlyAllCorrectIsSuccess) {
    Bootloader::Faults vanish;
    vanish.vanishAtBlock = 2;
    rig.Faults(2, vanish);
    Bootloader::Faults changes;
    changes.snapshotChanges = true;
    rig.Faults(3, changes);
    Bootloader::Faults mute;
    mute.ignoreHandshake = true;
    rig.Faults(5, mute);
    EXPECT_EQ(Run({"update", "--image", image, "--address", "1", "--address", "2", "--address", "3",
                   "--address", "5"}),
              kExitFailed);
    EXPECT_EQ(out.str(), "1\t升级成功,校表正确!\n2\t升级失败!\n3\t升级成功,校表错误!\n5\t等待\n");
    EXPECT_EQ(err.str(), "");

    EXPECT_EQ(Run({"update", "--image", image, "--address", "1"}), kExitOk);
    EXPECT_EQ(out.str(), "1\t升级成功,校表正确!\n");
}

TEST_F(UpdateCliTest, ScanThenUpdateWhatItFound) {
    EXPECT_EQ(Run({"update", "--image", image, "--scan", "1-4"}), kExitOk);
    EXPECT_EQ(out.str(), "1\t升级成功,校表正确!\n2\t升级成功,校表正确!\n3\t升级成功,校表正确!\n");
    EXPECT_EQ(Run({"update", "--image", image, "--scan", "6-9"}), kExitFailed);
    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(err.str(), "kvt40ctl: no module answered in 6-9\n");
    // A module waiting in its bootloader answers no scan, but its address still updates it.
    rig.Loader(5, [](Bootloader& b, VirtualModule& m) { b.EnterBootloader(m); });
    EXPECT_EQ(Run({"update", "--image", image, "--scan", "5-5"}), kExitFailed);
    EXPECT_EQ(Run({"update", "--image", image, "--address", "5"}), kExitFailed);
    EXPECT_EQ(out.str(), "5\t升级成功,无校表参照!\n");
}

TEST_F(UpdateCliTest, RetryUpdatesTheModuleWaitingInItsBootloader) {
    EXPECT_EQ(Run({"retry", "--image", image}), kExitFailed);
    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(err.str(), "No bootloader answered\nkvt40ctl: No reply from module 1\n");
    rig.Loader(3, [](Bootloader& b, VirtualModule& m) { b.EnterBootloader(m); });
    EXPECT_EQ(Run({"retry", "--image", image}), kExitOk);
    EXPECT_EQ(out.str(), "升级成功!\n");
    EXPECT_EQ(rig.bus.ReadRegister(3, 9500), 105);
}

TEST_F(UpdateCliTest, BadArgumentsAndUnreadableImagesStopBeforeTheBus) {
    const std::vector<std::vector<std::string>> usage = {
        {"scan", "--from", "0"},
        {"scan", "--to", "248"},
        {"scan", "--from", "x"},
        {"update", "--address", "1"},
        {"update", "--image", image},
        {"update", "--image", image, "--address", "1", "--scan", "1-5"},
        {"update", "--image", image, "--address", "0"},
        {"update", "--image", image, "--scan", "5"},
        {"update", "--image", image, "--scan", "0-5"},
        {"retry"},
    };
    for (const auto& args : usage) {
        EXPECT_EQ(Run(args), kExitUsage) << args[0] << " " << (args.size() > 1 ? args[1] : "");
        const std::string e = err.str();
        EXPECT_EQ(e.rfind("kvt40ctl: ", 0), 0u) << e;
        EXPECT_EQ(std::count(e.begin(), e.end(), '\n'), 1) << e;
    }
    const std::string missing = ::testing::TempDir() + "kvt40-missing.bin";
    EXPECT_EQ(Run({"update", "--image", missing, "--address", "1"}), kExitFailed);
    EXPECT_EQ(err.str(), "kvt40ctl: cannot open " + missing + ": No such file or directory\n");
    EXPECT_EQ(Run({"retry", "--image", missing}), kExitFailed);
    const std::string empty = files.Write({});
    EXPECT_EQ(Run({"retry", "--image", empty}), kExitFailed);
    EXPECT_EQ(err.str(), "kvt40ctl: cannot send " + empty + ": the image is empty\n");
    EXPECT_EQ(Run({"update", "--image", "/dev/zero", "--address", "1"}), kExitFailed);
    EXPECT_EQ(err.str(), "kvt40ctl: cannot send /dev/zero: a device, not a firmware image\n");
    const std::string big = files.Write({1});
    ASSERT_EQ(::truncate(big.c_str(), kImageCapBytes + 1), 0);
    EXPECT_EQ(Run({"update", "--image", big, "--address", "1"}), kExitFailed);
    EXPECT_EQ(err.str(), "kvt40ctl: cannot send " + big +
                             ": 1048577 bytes, more than the 1048576 a firmware image may have\n"
                             "kvt40ctl: --force sends it all the same\n");
    EXPECT_EQ(opens, 0);
    EXPECT_TRUE(rig.port.Sent().empty());
}

TEST_F(UpdateCliTest, TheHeaderCarriesTheFullPathAndForceLiftsTheCap) {
    const std::string typed = std::filesystem::relative(image).string();
    ASSERT_NE(typed, image);
    EXPECT_EQ(Run({"update", "--image", typed, "--address", "2"}), kExitOk);
    rig.Loader(2, [&](Bootloader& b, VirtualModule&) { EXPECT_EQ(b.ProgrammedName(), image); });

    // Over the cap with --force: the transfer starts (the module is stopped at its first block).
    std::vector<std::uint8_t> bytes = TaggedImage(3000);
    bytes.resize(kImageCapBytes + 1);
    const std::string big = files.Write(bytes);
    Bootloader::Faults vanish;
    vanish.vanishAtBlock = 1;
    rig.Faults(1, vanish);
    EXPECT_EQ(Run({"retry", "--image", big}), kExitFailed);
    rig.Loader(1, [](Bootloader& b, VirtualModule& m) { b.EnterBootloader(m); });
    EXPECT_EQ(Run({"retry", "--force", "--image", big}), kExitFailed);
    EXPECT_EQ(out.str(), "升级失败!\n");
    EXPECT_EQ(rig.SentStartingWith(0x02), 2u);  // the first data block, sent twice
}
