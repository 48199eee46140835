#pragma once
// The tool's side of the virtual test bench: while the tool is connected to the built-in
// virtual module, a calibration run sets the module's standard source to the values the
// run's standard column shows, so the bench delivers what the technician typed in.
//
//     cycle.SetSourceFollower([&link](const StandardValues& s, int pf) { FollowOnVirtualBench(link, s, pf); });

#include "calibration/AdjustTable.h"
#include "link/LinkState.h"
#include "sim/StandardSource.h"
#include "sim/VirtualBus.h"

// The source that delivers `standard` at power-factor step `pfStep` (0..4): each phase
// its standard voltage, every circuit the standard current.
StandardSource BenchSourceFor(const StandardValues& standard, int pfStep);
// Connects the module at `address` on `bus` to `source`; false when there is none.
bool ConnectBenchSource(VirtualBus& bus, int address, const StandardSource& source);
// Does both for the built-in module when the link's port is open on its pty; false (and
// nothing happens) for any other port.
bool FollowOnVirtualBench(const LinkState& link, const StandardValues& standard, int pfStep);
