#pragma once
// What every form is built with: the link it talks over, the clock its waits go through,
// the sink that shows its message boxes and the wall clock for the times it shows.

#include "link/Clock.h"
#include "link/LinkState.h"
#include "link/MessageSink.h"
#include "link/WallClock.h"

struct FormContext {
    LinkState& link;
    Clock& clock;
    MessageSink& sink;
    WallClock& wall;
};
