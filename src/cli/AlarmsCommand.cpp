// kvt40ctl alarms: the alarm form's opening probe and two ticks; one line per red cell.
#include "cli/CliCommand.h"
#include "cli/CycleTicks.h"
#include "monitor/AlarmCycle.h"
#include "monitor/ReadFailureText.h"

namespace {
class AlarmsCommand final : public CliCommand {
public:
    void Declare(CLI::App&) override {}
    int Run(CliContext& ctx) override {
        if (!ctx.OpenLink()) return ctx.Code();
        AlarmCycle cycle(ctx.Link(), ctx.GetClock());
        if (!cycle.Open()) return ctx.Failed(kUnableToReadText);
        if (!RunTicks(ctx, cycle, 2)) return ctx.Failed(kUnableToReadText);
        for (const AlarmCycle::Active& a : cycle.ActiveAlarms())
            ctx.out << a.row << '\t' << a.col << '\t' << a.name << "\n";
        return kExitOk;
    }
};
}  // namespace

KVT40_CLI_COMMAND(AlarmsCommand, "alarms", "alarms", "active alarms, one line each: ROW, COLUMN, NAME", 44)
