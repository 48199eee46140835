// kvt40ctl totals: the circuit totals form's one request and the tick that collects it.
#include "cli/CliCommand.h"
#include "cli/CycleTicks.h"
#include "monitor/CircuitTotalsCycle.h"

namespace {
class TotalsCommand final : public CliCommand {
public:
    void Declare(CLI::App&) override {}
    int Run(CliContext& ctx) override {
        if (!ctx.OpenLink()) return ctx.Code();
        CircuitTotalsCycle cycle(ctx.Link(), ctx.GetClock());
        cycle.Open();
        return PrintAfterTicks(ctx, cycle, 1);  // the cycle asks for nothing after a tick
    }
};
}  // namespace

KVT40_CLI_COMMAND(TotalsCommand, "totals", "totals", "circuit totals: 11 lines of 4 tab-separated cells", 41)
