#pragma once
// The loop of the live-view commands: an opened cycle's timer run a fixed number of times on
// the command's clock, as the form's timer would run it.
//
//     MeasuresCycle cycle(ctx.Link(), ctx.GetClock());
//     cycle.Open();
//     return PrintAfterTicks(ctx, cycle, MeasuresCycle::kSteps);

#include "cli/CliCommand.h"
#include "formkit/PollingCycle.h"
#include "monitor/ReadFailureText.h"

// Each tick after the cycle's poll period; the last one a LastTick, so no request is left on
// its way when the command goes on or ends. False at the first tick whose reply failed.
inline bool RunTicks(CliContext& ctx, PollingCycle& cycle, int ticks) {
    for (int i = 1; i <= ticks; ++i) {
        ctx.GetClock().sleep(cycle.PollMs());
        if (!(i == ticks ? cycle.LastTick() : cycle.Tick())) return false;
    }
    return true;
}

// The ticks, then the cycle's grid as tab-separated lines on stdout; on a failed tick,
// `failure` and exit code 1.
inline int PrintAfterTicks(CliContext& ctx, PollingCycle& cycle, int ticks,
                           const char* failure = kUnableToReadText) {
    if (!RunTicks(ctx, cycle, ticks)) return ctx.Failed(failure);
    ctx.out << cycle.Cells().Tsv();
    return kExitOk;
}
