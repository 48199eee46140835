#include "formkit/WaitCursorClock.h"

#include "formkit/BusyCursor.h"

void WaitCursorClock::sleep(int ms) {
    BusyCursor::UntilIdle();
    inner_.sleep(ms);
}

void WaitCursorClock::sleepFor(Micros d) {
    BusyCursor::UntilIdle();
    inner_.sleepFor(d);
}
