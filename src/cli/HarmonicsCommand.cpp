// kvt40ctl harmonics: the THD page's tick, then each chart page shown in turn for one
// round of its three phases. Each page's last tick asks for nothing more, so the next
// page's first request never goes out while a reply is still on its way.
#include "cli/CliCommand.h"
#include "cli/CycleTicks.h"
#include "monitor/HarmonicCycle.h"
#include "monitor/ReadFailureText.h"

namespace {
class HarmonicsCommand final : public CliCommand {
public:
    void Declare(CLI::App&) override {}
    int Run(CliContext& ctx) override {
        if (!ctx.OpenLink()) return ctx.Code();
        Clock& clock = ctx.GetClock();
        ThdCycle thd(ctx.Link(), clock);
        thd.Open();
        if (!RunTicks(ctx, thd, 1)) return ctx.Failed(kUnableToReadText);
        HarmonicChartCycle volts(ctx.Link(), clock, HarmonicChartCycle::Kind::Voltage);
        HarmonicChartCycle amps(ctx.Link(), clock, HarmonicChartCycle::Kind::Current);
        for (HarmonicChartCycle* page : {&volts, &amps}) {
            page->Open();
            if (!RunTicks(ctx, *page, HarmonicChartCycle::kPhases)) return ctx.Failed(kUnableToReadText);
        }
        ctx.out << thd.Cells().Tsv() << volts.Cells().Tsv() << amps.Cells().Tsv();
        return kExitOk;
    }
};
}  // namespace

KVT40_CLI_COMMAND(HarmonicsCommand, "harmonics", "harmonics",
                  "THD (4 lines of 4 cells), then per chart its title and 30 values", 43)
