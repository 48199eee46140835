// An independent Modbus master (libmodbus) against the kvt40-sim program on its pty.
#include <gtest/gtest.h>
#include <modbus.h>

#include <cerrno>
#include <cstdint>
#include <vector>

#include "Process.h"

namespace {

struct Master {
    modbus_t* ctx = nullptr;
    Master(const std::string& path, int slave) {
        ctx = modbus_new_rtu(path.c_str(), 9600, 'N', 8, 1);
        if (ctx == nullptr) return;
        modbus_set_slave(ctx, slave);
        modbus_set_response_timeout(ctx, 1, 0);
        if (modbus_connect(ctx) != 0) {
            modbus_free(ctx);
            ctx = nullptr;
        }
    }
    ~Master() {
        if (ctx != nullptr) {
            modbus_close(ctx);
            modbus_free(ctx);
        }
    }
    std::vector<std::uint16_t> Read(int start, int count) {
        std::vector<std::uint16_t> regs(static_cast<std::size_t>(count));
        if (modbus_read_registers(ctx, start, count, regs.data()) != count) return {};
        return regs;
    }
    // A one-register read sent to `slave` without waiting out a time-out for its reply. The
    // sim serves requests in order, so a reply to it would come before the reply to the next
    // request, which would then fail on its slave address.
    bool SendUnanswered(int slave, int start) {
        const std::uint8_t raw[] = {
            static_cast<std::uint8_t>(slave),        0x03, static_cast<std::uint8_t>(start >> 8),
            static_cast<std::uint8_t>(start & 0xFF), 0x00, 0x01};
        return modbus_send_raw_request(ctx, raw, sizeof raw) > 0;
    }
};

std::int32_t S32(const std::vector<std::uint16_t>& r, std::size_t at) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(r[at]) |
                                     (static_cast<std::uint32_t>(r[at + 1]) << 16));
}

}  // namespace

TEST(ModbusMasterE2E, ReadsWritesAndMovesTheModule) {
    e2e::SimProcess sim({});
    ASSERT_FALSE(sim.Path().empty());
    {
        Master m(sim.Path(), 1);
        ASSERT_NE(m.ctx, nullptr) << modbus_strerror(errno);

        const auto line = m.Read(0, 10);
        ASSERT_EQ(line.size(), 10u) << modbus_strerror(errno);
        for (std::size_t p = 0; p < 3; ++p) EXPECT_NEAR(line[p], 22000, 100);
        EXPECT_NEAR(line[9], 5000, 10);

        bool exporting = false;
        for (int block = 0; block < 5; ++block) {  // 10, 82, 154, 226, 298: outlets 1..30
            const auto regs = m.Read(10 + 72 * block, 72);
            ASSERT_EQ(regs.size(), 72u) << "block at " << 10 + 72 * block << ": " << modbus_strerror(errno);
            for (std::size_t o = 0; o < 6; ++o) exporting = exporting || S32(regs, 12 * o + 1) < 0;
        }
        EXPECT_TRUE(exporting);
        EXPECT_EQ(m.Read(370, 5).size(), 5u);

        const std::vector<std::uint16_t> limits{25000, 19000, 0, 1200, 1300};
        ASSERT_EQ(modbus_write_registers(m.ctx, 504, 2, limits.data()), 2);
        ASSERT_EQ(modbus_write_registers(m.ctx, 507, 2, limits.data() + 3), 2);
        EXPECT_EQ(m.Read(504, 5), limits);

        std::vector<std::uint16_t> one(1);
        EXPECT_EQ(modbus_read_registers(m.ctx, 375, 1, one.data()), -1);
        EXPECT_EQ(errno, EMBXILADD);

        const std::uint16_t address = 17;
        ASSERT_EQ(modbus_write_registers(m.ctx, 500, 1, &address), 1);  // echoed from the old address
        ASSERT_TRUE(m.SendUnanswered(1, 0));                            // the old address is silent
        modbus_set_slave(m.ctx, 17);
        EXPECT_EQ(m.Read(500, 1), (std::vector<std::uint16_t>{17})) << modbus_strerror(errno);
    }
    EXPECT_EQ(sim.Terminate(), 0);
}

TEST(ModbusMasterE2E, SeveralModulesAnswerAtTheirOwnAddress) {
    e2e::SimProcess sim({"--address", "3", "--address", "9"});
    ASSERT_FALSE(sim.Path().empty());
    {
        Master m(sim.Path(), 9);
        ASSERT_NE(m.ctx, nullptr);
        EXPECT_EQ(m.Read(500, 1), (std::vector<std::uint16_t>{9}));
        modbus_set_slave(m.ctx, 3);
        EXPECT_EQ(m.Read(500, 1), (std::vector<std::uint16_t>{3}));
        ASSERT_TRUE(m.SendUnanswered(1, 500));  // no module at 1
        EXPECT_EQ(m.Read(500, 1), (std::vector<std::uint16_t>{3})) << modbus_strerror(errno);
    }
    EXPECT_EQ(sim.Terminate(), 0);
}
