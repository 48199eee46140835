// The input and relay cycle: the alternating poll, the run's phase and the relay
// test with its echo.
#include <gtest/gtest.h>

#include "monitor/InputRelayCycle.h"
#include "sim/SimPort.h"
#include "sim/VirtualBus.h"
#include "support/ScriptedPort.h"
#include "support/SimLink.h"

namespace {

class InputRelayCycleTest : public ::testing::Test, protected SimLink {
protected:
    bool Tick(InputRelayCycle& c) {
        clock.sleep(InputRelayCycle::kPollMs);
        return c.Tick();
    }
    bool Coil(int n) {
        bool on = false;
        bus.WithModule(1, [&](VirtualModule& m) { on = m.Coil(n); });
        return on;
    }
};

TEST_F(InputRelayCycleTest, PhasesAlternateAndEachTickReadsTheRequestOfTheTickBefore) {
    bus.WithModule(1, [](VirtualModule& m) {
        m.SetInputOverride(0, true);
        m.SetInputOverride(1, false);
    });
    InputRelayCycle c(link, clock, run.statusPollPhase);
    c.Open();
    EXPECT_TRUE(port.Sent().empty());  // opening sends nothing
    EXPECT_TRUE(Tick(c));              // phase 0 finds nothing: not judged
    EXPECT_EQ(run.statusPollPhase, 0);
    ASSERT_EQ(port.Sent().size(), 1u);
    EXPECT_EQ(port.Sent()[0], WithCrc({0x01, 0x02, 0x00, 0x00, 0x00, 0x02}));
    EXPECT_FALSE(c.Filled(InputRelayCycle::kDi1));
    EXPECT_TRUE(Tick(c));  // phase 1: the inputs
    EXPECT_TRUE(c.Lit(InputRelayCycle::kDi1));
    EXPECT_FALSE(c.Lit(InputRelayCycle::kDi2));
    EXPECT_EQ(port.Sent()[1], WithCrc({0x01, 0x03, 0x00, 0x26, 0x00, 0x01}));
    EXPECT_FALSE(c.Filled(InputRelayCycle::kDo1));
    EXPECT_TRUE(Tick(c));  // phase 0: the relay bits
    for (int l = 0; l < InputRelayCycle::kLamps; ++l) EXPECT_TRUE(c.Filled(l)) << l;
    EXPECT_FALSE(c.Lit(InputRelayCycle::kDo1));
}

TEST_F(InputRelayCycleTest, RegisterThirtyEightBitsLightTheRelayLamps) {
    ScriptedPort module(clock);
    module.Open();
    module.answerReads = true;
    module.regs[38] = 2;
    link.port = &module;
    run.statusPollPhase = 0;  // the next tick is phase 1: it sends the relay request
    InputRelayCycle c(link, clock, run.statusPollPhase);
    c.Open();
    EXPECT_TRUE(Tick(c));
    EXPECT_TRUE(Tick(c));
    EXPECT_TRUE(c.Lit(InputRelayCycle::kDo2));
    EXPECT_FALSE(c.Lit(InputRelayCycle::kDo1));
    // A reply of the wrong kind (or none) fails, leaves the lamps and the next request goes out.
    module.mute = true;
    const auto sent = module.writes.size();
    EXPECT_FALSE(Tick(c));
    EXPECT_EQ(module.writes.size(), sent + 1);
    EXPECT_TRUE(c.Lit(InputRelayCycle::kDo2));
}

TEST_F(InputRelayCycleTest, TestSendsBothCoilsTwiceAndTheEchoIsNotJudged) {
    InputRelayCycle c(link, clock, run.statusPollPhase);
    c.Open();
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(Tick(c));
    EXPECT_FALSE(c.Lit(InputRelayCycle::kDo1));
    const std::size_t sent = port.Sent().size();
    const auto t0 = clock.nowMs();
    c.Test(true, false);
    EXPECT_EQ(clock.nowMs() - t0, 800);
    ASSERT_EQ(port.Sent().size(), sent + 4);
    const Frame on0 = WithCrc({0x01, 0x05, 0x00, 0x00, 0xFF, 0x00});
    const Frame off1 = WithCrc({0x01, 0x05, 0x00, 0x01, 0x00, 0x00});
    EXPECT_EQ(port.Sent()[sent], on0);
    EXPECT_EQ(port.Sent()[sent + 1], off1);
    EXPECT_EQ(port.Sent()[sent + 2], on0);
    EXPECT_EQ(port.Sent()[sent + 3], off1);
    EXPECT_TRUE(Coil(0));
    EXPECT_FALSE(Coil(1));

    // The first poll finds only the last write's echo: it fails its check, is not judged,
    // and sends the next request; the lamps change on later ticks.
    EXPECT_TRUE(Tick(c));
    EXPECT_FALSE(c.Lit(InputRelayCycle::kDo1));
    EXPECT_FALSE(c.Filled(InputRelayCycle::kDo1));
    EXPECT_TRUE(Tick(c));
    EXPECT_TRUE(Tick(c));
    EXPECT_TRUE(c.Lit(InputRelayCycle::kDo1));
    EXPECT_FALSE(c.Lit(InputRelayCycle::kDo2));
}

TEST_F(InputRelayCycleTest, ThePollPhaseCarriesOverToTheNextOpening) {
    {
        InputRelayCycle c(link, clock, run.statusPollPhase);
        c.Open();
        ASSERT_TRUE(Tick(c));
    }
    EXPECT_EQ(run.statusPollPhase, 0);
    InputRelayCycle again(link, clock, run.statusPollPhase);
    again.Open();
    ASSERT_TRUE(Tick(again));
    EXPECT_EQ(run.statusPollPhase, 1);  // this tick asked for the relay bits
    EXPECT_EQ(StartOf(port.Sent().back()), 38);
}

TEST_F(InputRelayCycleTest, TheVirtualModulesInputsToggle) {
    InputRelayCycle c(link, clock, run.statusPollPhase);
    c.Open();
    int changes = 0;
    bool was = false;
    for (int i = 0; i < 60; ++i) {  // 30 s: input 1 changes every 7 s, input 2 every 11 s
        ASSERT_TRUE(Tick(c));
        const bool now = c.Lit(InputRelayCycle::kDi1);
        changes += i > 2 && now != was ? 1 : 0;
        was = now;
    }
    EXPECT_GE(changes, 3);
}

}  // namespace
