#pragma once
// What every form is built with: the run it belongs to (its port, update log and shared
// update state, calibration memory), the link it talks over, the clock its waits go through,
// the sink that shows its message boxes and the wall clock for the times it shows, and the
// bench whose standard source a calibration may set (the program's virtual module's).

#include <functional>

#include "link/Clock.h"
#include "link/LinkState.h"
#include "link/MessageSink.h"
#include "link/WallClock.h"

class RunState;
class StandardSourceFollower;

struct FormContext {
    RunState& run;
    // The run's link and clock in the programs; a test may hand in its own.
    LinkState& link;
    Clock& clock;
    MessageSink& sink;
    WallClock& wall;
    StandardSourceFollower* bench = nullptr;  // none: the source is set by hand
    // Opens the link's port again, by the name it was opened with, at the line rate of a
    // baud option (a module just moved to it); the program's opener, so no form knows how
    // a port name is resolved. None, or false: the port cannot be opened again.
    std::function<bool(int baudIndex)> reopenPort = {};
};
