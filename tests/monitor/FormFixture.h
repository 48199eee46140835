#pragma once
// What a monitoring form test is built on: module 1 on the in-memory bus, a virtual clock,
// a recording sink and a fixed wall clock; or, for exact register values, a scripted module.

#include <gtest/gtest.h>

#include "link/LinkState.h"
#include "sim/SimPort.h"
#include "sim/VirtualBus.h"
#include "support/Frames.h"
#include "support/RecordingSink.h"
#include "support/ScriptedPort.h"
#include "widgets/FormContext.h"

class FormFixture : public ::testing::Test {
protected:
    FormFixture() : bus(clock), port(bus, clock) {
        bus.AddModule(1);
        port.Open(9600);
        scripted.Open();
        scripted.answerReads = true;
        link.protocol = &TheModbusRtu();
        link.port = &port;
    }
    // Exact registers instead of the virtual module's live ones.
    void UseScriptedModule() { link.port = &scripted; }
    // What the form's timer does, with the time passing on the virtual clock.
    template <typename F>
    void Tick(F& form, int ms) {
        clock.advanceMs(ms);
        form.OnTimer();
    }

    VirtualClock clock;
    VirtualBus bus;
    SimPort port;
    ScriptedPort scripted{clock};
    RecordingSink sink;
    LinkState link;
    FixedWallClock wall{LocalTime{2026, 12, 9, 14, 2, 31, 60}};
    FormContext ctx{link, clock, sink, wall};
};
