#include "monitor/InputRelayCycle.h"

namespace {

constexpr int kRelayRegister = 38;
constexpr int kInputs = 2;

}  // namespace

InputRelayCycle::InputRelayCycle(LinkState& link, Clock& clock, int& pollPhase)
    : PollingCycle(link, clock), phase_(pollPhase) {
    cells_.Resize(kLamps, 2);
    for (int l = 0; l < kLamps; ++l) cells_.Set(l, 0, Name(l));
}

const char* InputRelayCycle::Name(int lamp) {
    static constexpr const char* kNames[kLamps] = {"DI1", "DI2", "DO1", "DO2"};
    return lamp >= 0 && lamp < kLamps ? kNames[lamp] : "";
}

void InputRelayCycle::Set(int lamp, bool on) {
    lit_[static_cast<std::size_t>(lamp)] = on;
    filled_[static_cast<std::size_t>(lamp)] = true;
    cells_.Set(lamp, 1, on ? "1" : "0");
}

bool InputRelayCycle::Open() {
    lit_.fill(false);
    filled_.fill(false);
    awaiting_ = Awaiting::Nothing;
    return true;
}

bool InputRelayCycle::Tick() {
    phase_ = phase_ == 0 ? 1 : 0;
    bool ok = false;
    if (phase_ == 0) {
        const auto regs = session_.CollectRegisters(1);
        ok = regs.has_value();
        if (ok) {
            Set(kDo1, ((*regs)[0] & 1) != 0);
            Set(kDo2, ((*regs)[0] & 2) != 0);
        }
        if (SendsNext()) session_.SendReadInputs(0, kInputs);
    } else {
        const auto bits = session_.CollectInputs(kInputs);
        ok = bits.has_value();
        if (ok) {
            Set(kDi1, (*bits)[0] != 0);
            Set(kDi2, (*bits)[1] != 0);
        }
        if (SendsNext()) session_.SendReadRegisters(kRelayRegister, 1);
    }
    const Awaiting had = awaiting_;
    const Awaiting asked = phase_ == 0 ? Awaiting::Inputs : Awaiting::Relays;
    awaiting_ = SendsNext() ? asked : Awaiting::Nothing;
    // The reply checked this tick is the one the previous tick asked for.
    const bool judged = had == (phase_ == 0 ? Awaiting::Relays : Awaiting::Inputs);
    return ok || !judged;
}

void InputRelayCycle::Test(bool relay1Closed, bool relay2Closed) {
    for (int pass = 0; pass < 2; ++pass) {
        session_.WriteCoil(0, relay1Closed, kCoilWaitMs);
        session_.WriteCoil(1, relay2Closed, kCoilWaitMs);
    }
    filled_.fill(false);
    awaiting_ = Awaiting::Echo;
}
