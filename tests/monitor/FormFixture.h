#pragma once
// What a monitoring form test is built on: module 1 on the in-memory bus, a virtual clock,
// a recording sink and a fixed wall clock; or, for exact register values, a scripted module.

#include <gtest/gtest.h>

#include "formkit/FormContext.h"
#include "link/LinkState.h"
#include "sim/SimPort.h"
#include "sim/VirtualBus.h"
#include "support/Frames.h"
#include "support/RecordingSink.h"
#include "support/ScriptedPort.h"
#include "support/SimLink.h"

class FormFixture : public ::testing::Test, protected SimLink {
protected:
    FormFixture() {
        scripted.Open();
        scripted.answerReads = true;
    }
    // Exact registers instead of the virtual module's live ones.
    void UseScriptedModule() { link.port = &scripted; }
    // What the form's timer does, with the time passing on the virtual clock.
    template <typename F>
    void Tick(F& form, int ms) {
        clock.advanceMs(ms);
        form.OnTimer();
    }

    ScriptedPort scripted{clock};
    RecordingSink sink;
    FixedWallClock wall{LocalTime{2026, 12, 9, 14, 2, 31, 60}};
    FormContext ctx{run, link, clock, sink, wall};
};
