#pragma once
// Digital inputs and relays (148) without widgets: every 500 ms tick flips a poll phase
// held once for the program and reads the reply to the tick before, alternately the
// relay bits (register 38, function 03) and the two inputs (function 02). Opening sends
// nothing, so the first tick finds nothing and only sends the first request.
//
//     InputRelayCycle cycle(link, clock);
//     cycle.Open();
//     for (int i = 0; i < 3; ++i) { clock.sleep(500); cycle.Tick(); }
//     cycle.Lit(InputRelayCycle::kDo2);          // relay 2 closed
//     cycle.Test(true, false);               // coils 0, 1, twice, 200 ms after each write

#include <array>
#include <cstdint>

#include "formkit/PollingCycle.h"

class InputRelayCycle final : public PollingCycle {
public:
    enum Lamp { kDi1, kDi2, kDo1, kDo2, kLamps };
    static constexpr int kPollMs = 500;
    static constexpr int kCoilWaitMs = 200;

    // `pollPhase` is the run's (RunState::statusPollPhase): a view opened again goes on
    // where the last one stopped.
    InputRelayCycle(LinkState& link, Clock& clock, int& pollPhase);

    // Lamps dark; nothing is sent. The timer always starts.
    bool Open() override;
    // One poll step. False only when a reply it judges failed: the first tick after
    // opening finds nothing and the first after Test finds the last coil write's echo,
    // neither of which is judged.
    bool Tick() override;
    int PollMs() const override { return kPollMs; }
    Discipline TimerDiscipline() const override { return Discipline::KeepRunning; }

    // "测试" while the timer is stopped: coil 0 then coil 1 (on = close), twice, each
    // write followed by 200 ms. No reply is read.
    void Test(bool relay1Closed, bool relay2Closed);

    bool Lit(int lamp) const { return lit_[static_cast<std::size_t>(lamp)]; }
    // Whether a reply to a request of this cycle has set the lamp since Open or Test.
    bool Filled(int lamp) const { return filled_[static_cast<std::size_t>(lamp)]; }
    static const char* Name(int lamp);

    // The phase of the last tick; the next tick flips it and acts on it.
    int PollPhase() const { return phase_; }

private:
    enum class Awaiting { Nothing, Relays, Inputs, Echo };
    void Set(int lamp, bool on);

    std::array<bool, kLamps> lit_{};
    std::array<bool, kLamps> filled_{};
    Awaiting awaiting_ = Awaiting::Nothing;
    int& phase_;
};
