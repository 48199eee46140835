#include <gtest/gtest.h>

#include "SimHarness.h"

TEST(SimPort, LineBlockReadsLiveVoltages) {
    SimHarness h;
    auto regs = h.Regs(1, 0, 10);
    ASSERT_EQ(regs.size(), 10u);
    for (int p = 0; p < 3; ++p) EXPECT_NEAR(regs[static_cast<std::size_t>(p)], 22000, 30);
    EXPECT_NEAR(regs[9], 5000, 3);
}
