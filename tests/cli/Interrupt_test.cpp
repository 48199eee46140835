// Ctrl-C in the middle of a command, in-process: the stop is what the signal thread does
// (the flag set, then the port closed), made at a chosen request on the wire. The command
// ends without its failure texts, exits 130 and says what it had written to the module.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <sstream>

#include "cli/Cli.h"
#include "sim/SimPort.h"
#include "sim/VirtualBus.h"
#include "update/UpdateFixture.h"

namespace {

// The module's port, stopped as Ctrl-C stops it once `when` has seen the frame just sent.
class StoppingPort final : public CCommPort {
public:
    StoppingPort(SimPort& port, std::atomic<bool>& interrupted) : port_(port), interrupted_(interrupted) {}
    std::function<bool(std::span<const std::uint8_t>)> when;

    void Close() override { port_.Close(); }
    bool IsOpen() const override { return port_.IsOpen(); }
    int Read(std::span<std::uint8_t> buf) override { return port_.Read(buf); }
    int Write(std::span<const std::uint8_t> data) override {
        const int sent = port_.Write(data);
        if (when && when(data)) {
            interrupted_ = true;
            port_.Close();
        }
        return sent;
    }

private:
    SimPort& port_;
    std::atomic<bool>& interrupted_;
};

bool FunctionIs(std::span<const std::uint8_t> f, std::uint8_t code) {
    return f.size() >= 8 && f[1] == code;
}

class InterruptTest : public ::testing::Test {
protected:
    InterruptTest() : rig({1, 7}), stopping(rig.port, interrupted) {
        rig.port.Close();
        env.clock = &rig.clock;
        env.port = &stopping;
        env.interrupted = &interrupted;
        env.open = [this](const std::string&, int baud, int, int, int) {
            ++opens;
            return rig.port.Open(baud);
        };
        image = files.Write(TaggedImage(3000));
    }
    int Run(std::vector<std::string> args) {
        out.str("");
        err.str("");
        interrupted = false;
        opens = 0;
        args.insert(args.begin(), {"--port", "/dev/pts/9"});
        return RunCliArgs(args, env, out, err);
    }
    // Stops at the n-th frame (from 1) that `match` takes.
    void StopAt(int n, std::function<bool(std::span<const std::uint8_t>)> match) {
        auto seen = std::make_shared<int>(0);
        stopping.when = [=](std::span<const std::uint8_t> f) { return match(f) && ++*seen == n; };
    }

    BusRig<VirtualClock> rig;
    std::atomic<bool> interrupted{false};
    StoppingPort stopping;
    CliEnv env{rig.run};
    int opens = 0;
    ImageFiles files;
    std::string image;
    std::ostringstream out, err;
};

}  // namespace

TEST_F(InterruptTest, AReadingCommandEndsWithoutItsFailureText) {
    StopAt(2, [](auto f) { return FunctionIs(f, 0x03); });
    EXPECT_EQ(Run({"--address", "7", "measure"}), kExitInterrupted);
    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(err.str(), "kvt40ctl: interrupted\nkvt40ctl: nothing was written to the module\n");
}

TEST_F(InterruptTest, ACalibrationSaysWhichRegistersItHadWritten) {
    StopAt(1, [](auto f) { return FunctionIs(f, 0x10); });
    EXPECT_EQ(Run({"--address", "7", "calibrate", "--view", "line", "--mode", "meter"}), kExitInterrupted);
    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(
        err.str(),
        "kvt40ctl: interrupted\nkvt40ctl: already written to the module: registers 5000-5002 at address 7\n");
}

TEST_F(InterruptTest, ANewAddressIsNotFollowedAfterTheStop) {
    StopAt(1, [](auto f) { return FunctionIs(f, 0x10); });
    EXPECT_EQ(Run({"--address", "7", "comm", "--set-address", "9"}), kExitInterrupted);
    EXPECT_EQ(opens, 1);  // no reconnection at the new settings
    EXPECT_EQ(out.str(), "");
    const std::string e = err.str();
    EXPECT_EQ(
        e.substr(e.find("kvt40ctl: interrupted")),
        "kvt40ctl: interrupted\nkvt40ctl: already written to the module: registers 500-501 at address 7\n")
        << e;
}

TEST_F(InterruptTest, ARetryThatSentNoImageHasNotFailedButAnUpdateInTransferHas) {
    StopAt(1, [](auto f) { return f.size() == 1 && f[0] == '1'; });
    EXPECT_EQ(Run({"retry", "--image", image}), kExitInterrupted);
    EXPECT_EQ(out.str(), "");  // no "升级失败!": nothing was sent to fail
    EXPECT_EQ(err.str(), "kvt40ctl: interrupted\nkvt40ctl: already written to the module: bootloader key\n");

    StopAt(2, [](auto f) { return f.size() == 1029 && f[0] == 0x02; });
    EXPECT_EQ(Run({"update", "--image", image, "--address", "1", "--address", "7"}), kExitInterrupted);
    EXPECT_EQ(out.str(), "1\t升级失败!\n");  // the pause: the module in transfer failed, 7 not reached
    EXPECT_EQ(
        err.str(),
        "kvt40ctl: interrupted\nkvt40ctl: already written to the module: update handshake at address 1, "
        "bootloader key, image header, image block x2\n");
}
