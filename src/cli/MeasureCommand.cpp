// kvt40ctl measure: one full measurement cycle, then the grid as the form shows it.
#include "cli/CliCommand.h"
#include "monitor/MeasuresCycle.h"

namespace {
class MeasureCommand final : public CliCommand {
public:
    void Declare(CLI::App&) override {}
    int Run(CliContext& ctx) override {
        if (!ctx.OpenLink()) return ctx.Code();
        MeasuresCycle cycle(ctx.Link(), ctx.TheClock());
        cycle.Open();
        for (int i = 0; i < MeasuresCycle::kSteps; ++i) {
            ctx.TheClock().sleep(MeasuresCycle::kPollMs);
            if (!cycle.Tick()) return ctx.Failed(kUnableToReadText);
        }
        ctx.out << cycle.Cells().Tsv();
        return kExitOk;
    }
};
}  // namespace

KVT40_CLI_COMMAND(MeasureCommand, "measure", "measure",
                  "one full measurement cycle: 33 lines of 7 tab-separated cells", 40)
