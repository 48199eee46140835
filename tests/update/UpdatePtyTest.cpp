// The update through a pseudo-terminal: the real serial port against the pty server's
// framing of whole blocks, and kvt40ctl's Ctrl-C as the pause against kvt40-sim. Every
// real-time wait is a bounded poll.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>

#include "link/SerialPort.h"
#include "sim/Deadline.h"
#include "sim/Process.h"
#include "sim/PtyBusServer.h"
#include "update/UpdateFixture.h"
#include "update/YmodemSender.h"

TEST(UpdatePty, BlocksGoWholeThroughTheRealPortAndThePtyServer) {
    RealClock clock;
    VirtualBus bus(clock);
    bus.AddModule(5, 2);
    bus.WithModule(5, [](VirtualModule& m) { BootloaderOf(m)->EnterBootloader(m); });
    PtyBusServer server(bus);
    ASSERT_TRUE(server.Start());
    CSerialPort port;
    ASSERT_TRUE(port.Open(server.SlavePath(), 19200, 8, 0, 0));
    CModbusRtu rtu;
    LinkState link{5, 2, 8, 0, 0, &rtu, &port};

    const std::uint8_t key = '1';
    ASSERT_EQ(port.Write({&key, 1}), 1);
    std::vector<std::uint8_t> rx(300);
    int got = 0;
    ASSERT_TRUE(WaitUntil([&] { return (got = port.Read(rx)) > 0; }));
    EXPECT_EQ(rx.at(35), 'C');

    const auto image = TaggedImage(3 * 1024 + 1);
    std::atomic<std::uint32_t> progress{0};
    YmodemSender sender(link, clock);
    EXPECT_EQ(sender.Transmit(image, "/pty/fw.bin", progress), YmodemSender::kDelivered);
    bus.WithModule(5, [&](VirtualModule& m) {
        EXPECT_EQ(BootloaderOf(m)->Programmed(), image);
        EXPECT_EQ(m.CurrentMode(), VirtualModule::Mode::Application);
    });
    EXPECT_EQ(server.BytesDropped(), 0u);
    server.Stop();
}

TEST(UpdatePty, CtrlCDuringATransferEndsTheCommandWithTheModuleFailed) {
    int simOut = -1;
    const pid_t sim = e2e::Spawn({KVT40_SIM_EXE, "--address", "3", "--trace"}, simOut);
    ASSERT_GT(sim, 0);
    std::string trace =
        e2e::ReadUntil(simOut, 5000, [](const std::string& s) { return s.find('\n') != std::string::npos; });
    const std::string path = trace.substr(0, trace.find('\n'));
    ASSERT_FALSE(path.empty());

    ImageFiles files;
    const std::string image = files.Write(TaggedImage(20 * 1024));
    int ctlOut = -1;
    const pid_t ctl = e2e::Spawn(
        {KVT40CTL_EXE, "--port", path, "--address", "3", "update", "--image", image, "--address", "3"},
        ctlOut);
    ASSERT_GT(ctl, 0);
    // Handshake, key and the waits before the transfer take about 12 s.
    trace += e2e::ReadUntil(simOut, 30000,
                            [](const std::string& s) { return s.find("3 block 2\n") != std::string::npos; });
    ASSERT_NE(trace.find("3 block 2\n"), std::string::npos) << trace;
    kill(ctl, SIGINT);
    std::string out;
    const int code = e2e::Reap(ctl, ctlOut, 5000, &out);
    EXPECT_EQ(code, 130);  // interrupted, the module in transfer reported failed
    EXPECT_EQ(out, "3\t升级失败!\n");
    kill(sim, SIGTERM);
    EXPECT_EQ(e2e::Reap(sim, simOut, 5000), 0);
}

// The module's server dies in the middle of a transfer: the module in hand fails at once, the
// next is told as not reached (its line stays "等待"), and stderr says why.
TEST(UpdatePty, APortLostInATransferFailsThatModuleAndReachesNoOther) {
    int simOut = -1;
    const pid_t sim = e2e::Spawn({KVT40_SIM_EXE, "--address", "3", "--trace"}, simOut);
    ASSERT_GT(sim, 0);
    std::string trace =
        e2e::ReadUntil(simOut, 5000, [](const std::string& s) { return s.find('\n') != std::string::npos; });
    const std::string path = trace.substr(0, trace.find('\n'));
    ASSERT_FALSE(path.empty());

    ImageFiles files;
    const std::string image = files.Write(TaggedImage(20 * 1024));
    int ctlOut = -1;
    const pid_t ctl = e2e::Spawn({KVT40CTL_EXE, "--port", path, "--address", "3", "update", "--image", image,
                                  "--address", "3", "--address", "4"},
                                 ctlOut, true);
    ASSERT_GT(ctl, 0);
    trace += e2e::ReadUntil(simOut, 30000,
                            [](const std::string& s) { return s.find("3 block 2\n") != std::string::npos; });
    ASSERT_NE(trace.find("3 block 2\n"), std::string::npos) << trace;
    const auto t0 = std::chrono::steady_clock::now();
    kill(sim, SIGTERM);
    EXPECT_EQ(e2e::Reap(sim, simOut, 5000), 0);
    std::string out;
    EXPECT_EQ(e2e::Reap(ctl, ctlOut, 10000, &out), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(3));
    EXPECT_EQ(out,
              "3\t升级失败!\n"
              "kvt40ctl: Port lost: Input/output error\n"
              "kvt40ctl: module 4 not reached: the port was lost\n"
              "4\t等待\n");
}
