#include "link/Clock.h"

#include <thread>

void RealClock::sleep(int ms) {
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void RealClock::sleepFor(Micros d) {
    if (d.count() > 0) std::this_thread::sleep_for(d);
}

Clock::Micros RealClock::now() const {
    return std::chrono::duration_cast<Micros>(std::chrono::steady_clock::now().time_since_epoch());
}
