#pragma once
// What a calibration run needs of its bench when the bench is the program's to set: a
// standard source that takes the values the run's standard column shows. A bench of real
// instruments is set by hand and has no follower; each program hands in the one of its
// built-in virtual module.
//
//     cycle.SetSourceFollower([&](const StandardValues& s, int pf) { bench.Follow(link, s, pf); });

#include "calibration/AdjustTable.h"
#include "link/LinkState.h"

class StandardSourceFollower {
public:
    virtual ~StandardSourceFollower() = default;
    // Feeds the module `link` talks to (its port and address): each phase its standard
    // voltage, every circuit the standard current, at power-factor step pfStep (0..4:
    // 1.0, 0.866L, 0.5L, 0.866C, 0.5C). False, and nothing changes, when that module is
    // not on this bench.
    virtual bool Follow(const LinkState& link, const StandardValues& standard, int pfStep) = 0;
};
