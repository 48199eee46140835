// The virtual module's bootloader on the in-memory port: what it claims, what it answers,
// what it programs, and that the modules beside it keep their Modbus traffic.
#include <gtest/gtest.h>

#include "sim/Bootloader.h"
#include "support/Frames.h"
#include "update/UpdateFixture.h"
#include "update/YmodemSender.h"

namespace {

const Frame kAck{Bootloader::kAck};
const Frame kNak{Bootloader::kNak};

Frame Text(std::string_view s) {
    return {s.begin(), s.end()};
}

class BootloaderTest : public ::testing::Test {
protected:
    BootloaderTest() : rig({5, 49}) {}
    Frame Exchange(const Frame& bytes, int waitMs = 1500) {
        rig.port.Write(bytes);
        rig.clock.sleep(waitMs);
        std::vector<std::uint8_t> rx(1500);
        rx.resize(static_cast<std::size_t>(rig.port.Read(rx)));
        return rx;
    }
    Frame Packet(std::uint8_t first, std::uint8_t number, std::vector<std::uint8_t> data) {
        Frame f{first, number, static_cast<std::uint8_t>(~number)};
        f.reserve(data.size() + 5);
        f.insert(f.end(), data.begin(), data.end());
        const std::uint16_t crc = YmodemSender::Crc16(data);
        f.push_back(static_cast<std::uint8_t>(crc >> 8));
        f.push_back(static_cast<std::uint8_t>(crc & 0xFF));
        return f;
    }
    Frame HeaderFor(const std::string& name, std::uint32_t size) {
        std::vector<std::uint8_t> d(name.begin(), name.end());
        d.push_back(0);
        const std::string digits = std::to_string(size);
        d.insert(d.end(), digits.begin(), digits.end());
        d.resize(128, 0);
        return Packet(0x01, 0, d);
    }
    Frame Data(std::uint8_t number, std::uint8_t fill) {
        return Packet(0x02, number, std::vector<std::uint8_t>(1024, fill));
    }
    Frame ReadRegister(int address, int reg) {
        Frame f(8);
        CModbusRtu().BuildReadRegisters(f, address, reg, 1);
        return f;
    }
    void Enter() {
        ASSERT_EQ(Exchange(Text("ID0005TOKENKEY7305")), Text(Bootloader::Banner(5)));
        ASSERT_EQ(Exchange(Frame{'1'}, 1500).back(), 'C');
    }
    Bootloader::State State() {
        Bootloader::State s{};
        rig.Loader(5, [&](Bootloader& b, VirtualModule&) { s = b.CurrentState(); });
        return s;
    }

    BusRig<VirtualClock> rig;
};

}  // namespace

TEST(BootloaderTexts, BannerAndReadyTextCarryTheirMarksWhereTheUpdateLooks) {
    for (int a : {1, 47, 247}) {
        const std::string b = Bootloader::Banner(a);
        EXPECT_EQ(b.substr(74, 4), "====") << b;
        EXPECT_EQ(b.find('\0'), std::string::npos);
        EXPECT_LT(b.size(), 1500u);
    }
    EXPECT_EQ(Bootloader::kReadyText.size(), 35u);  // "C" follows at 35
    const std::string digits = "123456789";
    EXPECT_EQ(Bootloader::Crc({reinterpret_cast<const std::uint8_t*>(digits.data()), digits.size()}), 0x29B1);
    const auto tag = [](const std::string& s) {
        return Bootloader::VersionTag({reinterpret_cast<const std::uint8_t*>(s.data()), s.size()});
    };
    EXPECT_EQ(tag("xxVER=107yy"), 107);
    EXPECT_EQ(tag("VER=x"), -1);
    EXPECT_EQ(tag("VER=99999"), -1);
    EXPECT_EQ(tag("none"), -1);
}

TEST_F(BootloaderTest, TheHandshakeOfItsOwnAddressStopsTheApplication) {
    EXPECT_TRUE(Exchange(Text("ID0006TOKENKEY7305")).empty());  // nobody at 6
    EXPECT_TRUE(Exchange(Text("ID0005TOKENKEY7306")).empty());  // wrong code: not even claimed
    EXPECT_EQ(Exchange(ReadRegister(5, 500)), WithCrc({5, 0x03, 0x02, 0x00, 0x05}));
    Enter();
    EXPECT_EQ(State(), Bootloader::State::Receiving);
    EXPECT_TRUE(Exchange(ReadRegister(5, 500)).empty());  // no Modbus from a bootloader
    // The module at 49 (0x31, the key) and Modbus frames to 1, 2 and 4 (SOH, STX, EOT)
    // still reach Modbus while module 5 receives.
    EXPECT_EQ(Exchange(ReadRegister(49, 500)), WithCrc({49, 0x03, 0x02, 0x00, 49}));
    for (int a : {1, 2, 4}) EXPECT_TRUE(Exchange(ReadRegister(a, 500)).empty()) << a;
    EXPECT_EQ(State(), Bootloader::State::Receiving);
}

TEST_F(BootloaderTest, ReceivesChecksAndProgramsTheImage) {
    Enter();
    EXPECT_EQ(Exchange(Data(1, 0xAA)), kNak);  // no header yet
    EXPECT_EQ(Exchange(HeaderFor("/x/fw.bin", 1500)), kAck);
    auto bad = Data(1, 0xAA);
    bad[500] ^= 0xFF;
    EXPECT_EQ(Exchange(bad), kNak);
    EXPECT_EQ(Exchange(Data(2, 0xAA)), kNak);  // out of order
    EXPECT_EQ(Exchange(Data(1, 0xAA)), kAck);
    EXPECT_EQ(Exchange(Data(1, 0xAA)), kAck);  // again: its ACK was lost
    EXPECT_EQ(Exchange(Data(2, 0xBB)), kAck);
    EXPECT_EQ(Exchange(Frame{0x04}), kAck);
    EXPECT_EQ(Exchange(Packet(0x01, 0, std::vector<std::uint8_t>(128, 0))), kAck);
    rig.Loader(5, [](Bootloader& b, VirtualModule& m) {
        ASSERT_EQ(b.Programmed().size(), 1500u);
        EXPECT_EQ(b.Programmed()[1023], 0xAA);
        EXPECT_EQ(b.Programmed()[1024], 0xBB);
        EXPECT_EQ(b.ProgrammedName(), "/x/fw.bin");
        EXPECT_EQ(m.CurrentMode(), VirtualModule::Mode::Application);
    });
    EXPECT_EQ(Exchange(ReadRegister(5, 500)), WithCrc({5, 0x03, 0x02, 0x00, 0x05}));
}

TEST_F(BootloaderTest, AnImageShorterThanItsHeaderSaysIsNotProgrammed) {
    Enter();
    EXPECT_EQ(Exchange(HeaderFor("fw.bin", 5000)), kAck);
    EXPECT_EQ(Exchange(Data(1, 0x11)), kAck);
    EXPECT_EQ(Exchange(Frame{0x04}), kAck);
    EXPECT_EQ(Exchange(Packet(0x01, 0, std::vector<std::uint8_t>(128, 0))), kNak);
    EXPECT_NE(State(), Bootloader::State::Application);
}

TEST_F(BootloaderTest, AVanishedModuleIsSilentThenBackInItsBootloaderWaitingForTheKey) {
    Bootloader::Faults f;
    f.vanishAtBlock = 2;
    f.vanishMs = 10000;
    rig.Faults(5, f);
    Enter();
    EXPECT_EQ(Exchange(HeaderFor("fw.bin", 3000)), kAck);
    EXPECT_EQ(Exchange(Data(1, 1)), kAck);
    EXPECT_TRUE(Exchange(Data(2, 2)).empty());
    EXPECT_TRUE(Exchange(Frame{'1'}).empty());
    rig.clock.advanceMs(10000);
    EXPECT_TRUE(Exchange(Data(2, 2)).empty());  // back, but no longer receiving
    EXPECT_EQ(State(), Bootloader::State::Menu);
    EXPECT_TRUE(Exchange(ReadRegister(5, 500)).empty());
    const Frame ready = Exchange(Frame{'1'});
    EXPECT_EQ(ready, Text(std::string(Bootloader::kReadyText) + "C"));
}

TEST_F(BootloaderTest, LeftInItsBootloaderItAnswersTheKeyButNoModbus) {
    rig.Loader(5, [](Bootloader& b, VirtualModule& m) { b.EnterBootloader(m); });
    EXPECT_TRUE(Exchange(ReadRegister(5, 500)).empty());
    EXPECT_EQ(Exchange(Frame{'1'}).at(35), 'C');
    EXPECT_EQ(Exchange(Frame{'1'}), Frame{'C'});  // receiving: the key only asks for the file again
}
