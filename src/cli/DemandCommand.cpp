// kvt40ctl demand [--clear]: the demand form's opening and first tick, or its "清除".
#include "cli/CliCommand.h"
#include "cli/CycleTicks.h"
#include "monitor/DemandCycle.h"
#include "settings/WriteCheck.h"

namespace {
class DemandCommand final : public CliCommand {
public:
    void Declare(CLI::App& sub) override {
        sub.add_flag("--clear", clear_, "reset the module's demand (register 251 = 888)");
    }
    int Run(CliContext& ctx) override {
        if (!ctx.OpenLink()) return ctx.Code();
        DemandCycle cycle(ctx.Link(), ctx.GetClock());
        if (!cycle.Open()) return ctx.Failed(kDemandUnableText);
        if (clear_) {
            // The form reports success whatever happened; here the module's echo decides.
            if (!cycle.Clear()) {
                ctx.FailureExplained();
                return ctx.Failed("kvt40ctl: demand not cleared: " + ExchangeReason(cycle.Session()));
            }
            ctx.out << kDemandClearedText << "\n";
            return kExitOk;
        }
        return PrintAfterTicks(ctx, cycle, 1, kDemandUnableText);
    }

private:
    bool clear_ = false;
};
}  // namespace

KVT40_CLI_COMMAND(DemandCommand, "demand", "demand [--clear]",
                  "real-time and maximum demand: 12 lines of 5 cells; --clear resets it", 42)
