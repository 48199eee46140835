#include <gtest/gtest.h>

#include "MenuLoader.h"
#include "SimHarness.h"
#include "support/Frames.h"

TEST(VirtualBusAddressing, OnlyTheAddressedModuleAnswers) {
    SimHarness h;
    h.bus.AddModule(2);
    h.bus.AddModule(3);
    ASSERT_FALSE(h.Write(2, 504, {25000}).empty());
    EXPECT_EQ(h.Regs(2, 504, 1), (std::vector<std::int32_t>{25000}));
    EXPECT_EQ(h.Regs(1, 504, 1), (std::vector<std::int32_t>{26400}));
    EXPECT_EQ(h.Regs(3, 504, 1), (std::vector<std::int32_t>{26400}));
    EXPECT_EQ(h.Read(3, 0, 1).at(0), 3);
    EXPECT_TRUE(h.Read(4, 0, 1).empty());
}

TEST(VirtualBusAddressing, BadCrcAndBroadcastGetNoReply) {
    SimHarness h;
    std::uint8_t req[8];
    CModbusRtu().BuildReadRegisters(req, 1, 0, 10);
    req[7] ^= 1;
    EXPECT_TRUE(h.Exchange(req).empty());
    // A broadcast write acts on every module without a reply.
    h.bus.AddModule(2);
    EXPECT_TRUE(h.Write(0, 1023, {77}).empty());
    EXPECT_EQ(h.Regs(1, 1023, 1), (std::vector<std::int32_t>{77}));
    EXPECT_EQ(h.Regs(2, 1023, 1), (std::vector<std::int32_t>{77}));
}

class VirtualBusFaults : public ::testing::Test {
protected:
    SimHarness h;
    std::vector<std::uint8_t> Good() {
        h.bus.ClearFault(1);
        return h.Read(1, 0, 2);
    }
};

TEST_F(VirtualBusFaults, NoReply) {
    h.bus.InjectFault(1, {BusFault::Kind::NoReply});
    EXPECT_TRUE(h.Read(1, 0, 2).empty());
    EXPECT_EQ(Good().size(), 9u);
}

TEST_F(VirtualBusFaults, LateReplyArrivesAfterTheExtraTime) {
    BusFault late{BusFault::Kind::Late};
    late.extraMs = 300;
    h.bus.InjectFault(1, late);
    EXPECT_TRUE(h.Read(1, 0, 2).empty());  // 200 ms wait: still on its way
    std::vector<std::uint8_t> rx(300);
    h.clock.sleep(200);
    EXPECT_EQ(h.port.Read(rx), 9);
}

TEST_F(VirtualBusFaults, BadCrcFailsTheCheck) {
    h.bus.InjectFault(1, {BusFault::Kind::BadCrc});
    EXPECT_TRUE(h.Regs(1, 0, 2).empty());
    EXPECT_EQ(h.Read(1, 0, 2).size(), 9u);
}

TEST_F(VirtualBusFaults, ExceptionReplacesTheReply) {
    BusFault ex{BusFault::Kind::Exception};
    ex.exceptionCode = 4;
    h.bus.InjectFault(1, ex);
    EXPECT_EQ(h.Read(1, 0, 2), ExceptionFrame(1, 0x03, 4));
}

TEST_F(VirtualBusFaults, GarbageComesBeforeTheReply) {
    h.bus.InjectFault(1, {BusFault::Kind::Garbage});
    const auto rx = h.Read(1, 0, 2);
    ASSERT_EQ(rx.size(), 12u);
    EXPECT_EQ(std::vector<std::uint8_t>(rx.begin(), rx.begin() + 3),
              (std::vector<std::uint8_t>{0x00, 0xFF, 0x55}));
    auto good = Good();
    EXPECT_EQ(std::vector<std::uint8_t>(rx.begin() + 3, rx.begin() + 5),
              std::vector<std::uint8_t>(good.begin(), good.begin() + 2));
}

TEST_F(VirtualBusFaults, WrongAddressHasAGoodCrc) {
    h.bus.InjectFault(1, {BusFault::Kind::WrongAddress});
    auto rx = h.Read(1, 0, 2);
    ASSERT_EQ(rx.size(), 9u);
    EXPECT_EQ(rx[0], 2);
    EXPECT_EQ(Crc16Modbus(std::span<const std::uint8_t>(rx.data(), 7)), rx[7] | (rx[8] << 8));
}

TEST_F(VirtualBusFaults, CountLimitsTheFaultAndItIsKeyedByAddress) {
    h.bus.AddModule(2);
    BusFault once{BusFault::Kind::NoReply};
    once.count = 1;
    h.bus.InjectFault(1, once);
    EXPECT_EQ(h.Read(2, 0, 2).size(), 9u);  // module 2 is unaffected
    EXPECT_TRUE(h.Read(1, 0, 2).empty());
    EXPECT_EQ(h.Read(1, 0, 2).size(), 9u);
}

// A module that turns down or drops writes: its answer says so (or lies), its registers
// stay, and reads of the same module pass untouched.
TEST_F(VirtualBusFaults, RefusedAndIgnoredWritesChangeNothing) {
    BusFault refused{BusFault::Kind::Refused};
    refused.function = 0x10;
    h.bus.InjectFault(1, refused);
    EXPECT_EQ(h.Write(1, 504, {23000}), ExceptionFrame(1, 0x10, 4));
    EXPECT_EQ(h.Regs(1, 504, 1), (std::vector<std::int32_t>{26400}));

    BusFault ignored{BusFault::Kind::Ignored};
    ignored.function = 0x10;
    ignored.count = 1;
    h.bus.InjectFault(1, ignored);
    EXPECT_EQ(h.Regs(1, 504, 1), (std::vector<std::int32_t>{26400}));  // a read does not use the count up
    EXPECT_EQ(h.Write(1, 504, {23000, 17000}), WithCrc(Hex("01 10 01 F8 00 02")));
    EXPECT_EQ(h.Regs(1, 504, 2), (std::vector<std::int32_t>{26400, 17600}));
    EXPECT_EQ(h.Write(1, 504, {23000}), WithCrc(Hex("01 10 01 F8 00 01")));
    EXPECT_EQ(h.Regs(1, 504, 1), (std::vector<std::int32_t>{23000}));
}

TEST(VirtualBusRaw, HandlerUnitsGoThroughThePortAtTheLineRateAndModbusAroundThem) {
    SimHarness h;
    h.bus.WithModule(1, [](VirtualModule& m) { m.SetRawHandler(std::make_unique<MenuLoader>()); });
    EXPECT_EQ(h.Regs(1, 500, 1), (std::vector<std::int32_t>{1}));
    const Frame menu(MenuLoader::kMenu.begin(), MenuLoader::kMenu.end());
    EXPECT_EQ(h.Exchange(Frame{'1'}), menu);

    // The block's wire time, the turnaround and the handler's flash write come before the ACK.
    const auto block = MenuLoader::Block(1);
    const Clock::Micros start = h.clock.now();
    ASSERT_EQ(h.port.Write(block), 1029);
    EXPECT_EQ(h.port.ByteDueAt(0) - start,
              h.port.WireTime(1029) + Clock::Micros((5 + MenuLoader::kBlockMs) * 1000) + h.port.WireTime(1));
    h.clock.sleep(1200);
    std::vector<std::uint8_t> rx(300);
    EXPECT_EQ(h.port.Read(rx), 1);
    EXPECT_EQ(rx[0], MenuLoader::kAck);

    EXPECT_EQ(h.Regs(1, 500, 1), (std::vector<std::int32_t>{1}));  // in the middle of a transfer
    EXPECT_TRUE(h.Exchange(Frame(block.begin(), block.begin() + 100)).empty());  // part of a block
    h.port.Open(19200);  // the module listens at 9600 only
    EXPECT_TRUE(h.Exchange(Frame{MenuLoader::kEot}).empty());
    h.port.Open(9600);
    EXPECT_EQ(h.Exchange(Frame{MenuLoader::kEot}), Frame{MenuLoader::kAck});
    // Out of a transfer a block is not the handler's, and no Modbus frame either.
    EXPECT_TRUE(h.Exchange(block, 1500).empty());
    h.bus.WithModule(1, [&](VirtualModule& m) {
        const auto& blocks = dynamic_cast<const MenuLoader&>(*m.Raw()).Blocks();
        ASSERT_EQ(blocks.size(), 1u);
        EXPECT_EQ(blocks[0], block);
    });
}
