#include "update/LinkWait.h"

#include <algorithm>

bool LinkWait::For(int ms) {
    // Against a deadline, so the slices add up to the wait however long each sleep took.
    const Clock::Micros until = clock_.now() + Clock::Micros(std::int64_t{ms} * 1000);
    const Clock::Micros slice(std::int64_t{kSliceMs} * 1000);
    while (Open()) {
        const Clock::Micros left = until - clock_.now();
        if (left.count() <= 0) return true;
        clock_.sleepFor(std::min(left, slice));
    }
    return false;
}
