// CSerialPort and CModbusRtu against an independent slave (libmodbus) over pseudo-terminals,
// and kvt40ctl probe/read against the same slave.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <thread>

#include "link/ModbusRtu.h"
#include "link/SerialPort.h"
#include "support/ModbusSlavePeer.h"

namespace {

using Frame = std::vector<std::uint8_t>;

class ModbusPeerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(peer.Start(1));
        ASSERT_TRUE(port.Open(peer.PortPath(), 9600, 8, 0, 0));
    }

    // One transaction; the reply is polled for with a bound, as a timer tick would find it.
    Frame Exchange(const std::uint8_t* req, int len, int boundMs = 1000) {
        EXPECT_EQ(port.Write(std::span<const std::uint8_t>(req, static_cast<std::size_t>(len))), len);
        std::array<std::uint8_t, 300> rx{};
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
        Frame out;
        while (std::chrono::steady_clock::now() < until) {
            const int n = port.Read(rx);
            if (n > 0) {
                out.insert(out.end(), rx.begin(), rx.begin() + n);
                if (Complete(out)) break;
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
        return out;
    }
    static bool Complete(const Frame& f) {
        if (f.size() < 5) return false;
        if (f[1] & 0x80) return f.size() >= 5;
        if (f[1] == 0x05 || f[1] == 0x10) return f.size() >= 8;
        return f.size() >= 5u + f[2];
    }

    ModbusSlavePeer peer;
    CSerialPort port;
    CModbusRtu rtu;
    std::array<std::uint8_t, 300> tx{};
};

TEST_F(ModbusPeerTest, ProbeAndGoldenRegisterReply) {
    peer.SetHoldingRegister(0, 22000);
    peer.SetHoldingRegister(1, 22010);
    peer.SetHoldingRegister(2, 21990);
    int n = rtu.BuildReadRegisters(tx, 1, 0, 3);
    const Frame reply = Exchange(tx.data(), n);
    EXPECT_EQ(reply, (Frame{0x01, 0x03, 0x06, 0x55, 0xF0, 0x55, 0xFA, 0x55, 0xE6, 0xE2, 0x42}));
    std::array<std::int32_t, 128> regs{};
    ASSERT_TRUE(rtu.CheckReadRegistersReply(reply, regs));
    EXPECT_EQ(regs[0], 22000);
    EXPECT_EQ(regs[2], 21990);

    n = rtu.BuildReadRegisters(tx, 1, 0, 10);
    EXPECT_TRUE(rtu.CheckReadRegistersReply(Exchange(tx.data(), n), regs));
}

TEST_F(ModbusPeerTest, WriteThirtyRegistersAndReadThemBack) {
    std::array<std::int32_t, 30> values{};
    for (int i = 0; i < 30; ++i) values[static_cast<std::size_t>(i)] = 1000 + 37 * i;
    values[29] = -2;  // goes as 0xFFFE
    int n = rtu.BuildWriteRegisters(tx, 1, 507, 30, values);
    const Frame echo = Exchange(tx.data(), n);
    EXPECT_TRUE(rtu.CheckWriteRegistersReply(echo));
    EXPECT_EQ(peer.HoldingRegister(507), 1000);
    EXPECT_EQ(peer.HoldingRegister(536), 0xFFFE);

    n = rtu.BuildReadRegisters(tx, 1, 507, 30);
    std::array<std::int32_t, 128> regs{};
    ASSERT_TRUE(rtu.CheckReadRegistersReply(Exchange(tx.data(), n), regs));
    for (int i = 0; i < 29; ++i) EXPECT_EQ(regs[static_cast<std::size_t>(i)], 1000 + 37 * i);
    EXPECT_EQ(regs[29], 0xFFFE);
}

TEST_F(ModbusPeerTest, CoilsAndInputs) {
    int n = rtu.BuildWriteCoil(tx, 1, 1, 1);
    EXPECT_TRUE(rtu.CheckWriteCoilReply(Exchange(tx.data(), n)));
    EXPECT_TRUE(peer.Coil(1));
    std::array<std::int32_t, 64> bits{};
    n = rtu.BuildReadCoils(tx, 1, 0, 2);
    const Frame coils = Exchange(tx.data(), n);
    ASSERT_TRUE(rtu.CheckReadCoilsReply(coils, bits));
    EXPECT_EQ(bits[0], 0);
    EXPECT_EQ(bits[1], 1);
    EXPECT_FALSE(rtu.CheckReadInputsReply(coils, bits));

    peer.SetInput(1, true);
    n = rtu.BuildReadInputs(tx, 1, 0, 2);
    const Frame inputs = Exchange(tx.data(), n);
    EXPECT_EQ(inputs, (Frame{0x01, 0x02, 0x01, 0x02, 0x20, 0x49}));
    ASSERT_TRUE(rtu.CheckReadInputsReply(inputs, bits));
    EXPECT_EQ(bits[1], 1);
}

TEST_F(ModbusPeerTest, ExceptionFailsTheCheckAndAForeignIdGetsNoReply) {
    int n = rtu.BuildReadRegisters(tx, 1, 2000, 2);  // outside the slave's map
    const Frame ex = Exchange(tx.data(), n);
    EXPECT_EQ(ex, (Frame{0x01, 0x83, 0x02, 0xC0, 0xF1}));
    std::array<std::int32_t, 128> regs{};
    EXPECT_FALSE(rtu.CheckReadRegistersReply(ex, regs));

    n = rtu.BuildReadRegisters(tx, 9, 0, 10);
    EXPECT_TRUE(Exchange(tx.data(), n, 300).empty());
    EXPECT_FALSE(rtu.CheckReadRegistersReply(Frame(200, 0), regs));
}

std::string RunCtl(const std::string& args, int& code) {
    const std::string cmd = std::string(KVT40CTL_PATH) + " " + args + " 2>&1";
    FILE* p = popen(cmd.c_str(), "r");
    std::string out;
    if (p == nullptr) return out;
    char buf[256];
    while (fgets(buf, sizeof buf, p) != nullptr) out += buf;
    const int status = pclose(p);
    code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return out;
}

TEST(Kvt40ctlAgainstPeer, ProbeAndReadWithTheirTextsAndExitCodes) {
    ModbusSlavePeer peer;
    ASSERT_TRUE(peer.Start(5));
    for (int i = 0; i < 10; ++i) peer.SetHoldingRegister(i, static_cast<std::uint16_t>(22000 + i));
    int code = -1;
    EXPECT_EQ(RunCtl("--port " + peer.PortPath() + " --address 5 probe", code),
              "[ Device ID : 5 ] " + peer.PortPath() + " 9600bps \n");
    EXPECT_EQ(code, 0);
    EXPECT_EQ(RunCtl("--port " + peer.PortPath() + " --address 5 read 0 3", code),
              "0\t22000\n1\t22001\n2\t22002\n");
    EXPECT_EQ(code, 0);
    EXPECT_EQ(RunCtl("--port " + peer.PortPath() + " --address 6 probe", code),
              "Communication failed!\nkvt40ctl: No reply from module 6\n");
    EXPECT_EQ(code, 1);
    EXPECT_EQ(RunCtl("--port " + peer.PortPath() + " --address 5 read 2000 2", code),
              "Communication failed!\nkvt40ctl: Exception 2 from module 5: illegal data address\n");
    EXPECT_EQ(code, 1);
    EXPECT_EQ(RunCtl("--port /dev/x probe", code), "Cannot open/dev/x!\nkvt40ctl: no such file\n");
    EXPECT_EQ(code, 1);
}

}  // namespace
