// kvt40ctl totals: the circuit totals form's one request and the tick that collects it.
#include "cli/CliCommand.h"
#include "monitor/ReadFailureText.h"
#include "monitor/TimeECycle.h"

namespace {
class TotalsCommand final : public CliCommand {
public:
    void Declare(CLI::App&) override {}
    int Run(CliContext& ctx) override {
        if (!ctx.OpenLink()) return ctx.Code();
        TimeECycle cycle(ctx.Link(), ctx.GetClock());
        cycle.Open();
        ctx.GetClock().sleep(TimeECycle::kPollMs);
        if (!cycle.Tick()) return ctx.Failed(kUnableToReadText);
        ctx.out << cycle.Cells().Tsv();
        return kExitOk;
    }
};
}  // namespace

KVT40_CLI_COMMAND(TotalsCommand, "totals", "totals", "circuit totals: 11 lines of 4 tab-separated cells", 41)
