// kvt40ctl info: the meter information grid (versions, custom order number) after its
// four reads.
#include "cli/CliCommand.h"
#include "cli/SettingsCli.h"
#include "settings/EnergyPresetInfo.h"

namespace {

class InfoCommand final : public CliCommand {
public:
    void Declare(CLI::App&) override {}

    int Run(CliContext& ctx) override {
        if (!ctx.OpenLink()) return ctx.Code();
        EnergyPresetInfo device(ctx.Link(), ctx.GetClock());
        KeptMessages sink;
        if (!device.ReadInfo(sink)) return ctx.Failed(sink.Last());
        ctx.out << device.Cells().Tsv();
        return kExitOk;
    }
};

}  // namespace

KVT40_CLI_COMMAND(InfoCommand, "info", "info", "version information: 5 lines of 3 cells (internal item)", 80)
