#pragma once
// The clock the main frame hands its forms and dialogs: every wait on the user-interface
// thread shows the wait cursor until that thread is back in its event loop, so each handler
// wait and each blocking form switch shows it without a line in the handler. A worker's
// waits pass straight through.

#include <QtGlobal>

#include "link/Clock.h"

class WaitCursorClock final : public Clock {
public:
    explicit WaitCursorClock(Clock& inner) : inner_(inner) {}
    void sleep(int ms) override;
    void sleepFor(Micros d) override;
    Micros now() const override { return inner_.now(); }

private:
    Clock& inner_;
};
