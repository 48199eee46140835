// kvt40ctl preset-energy --outlet N --active X --reactive Y: the form's energy preset,
// with its field checks, the 3000 ms wait and the check of the module's echo.
#include "cli/CliCommand.h"
#include "cli/SettingsCli.h"
#include "settings/EnergyPresetInfo.h"

namespace {

class PresetEnergyCommand final : public CliCommand {
public:
    void Declare(CLI::App& sub) override {
        sub.add_option("--outlet", outlet_, "outlet 1 to 30")->required();
        sub.add_option("--active", active_, "active energy, 0.0 to 99999999.9")->required();
        sub.add_option("--reactive", reactive_, "reactive energy, 0.0 to 99999999.9")->required();
    }

    int Run(CliContext& ctx) override {
        EnergyPresetInfo device(ctx.Link(), ctx.GetClock());
        device.SetFields(outlet_, active_, reactive_);
        // Refused before the port is opened: nothing reaches the bus.
        if (const auto fault = device.CheckFields()) return ctx.Failed(*fault);
        if (!ctx.OpenLink()) return ctx.Code();
        KeptMessages sink;
        if (device.PresetEnergy(sink) != WriteOutcome::Done) return ctx.Failed(sink.Last());
        ctx.out << sink.Last() << "\n";
        return kExitOk;
    }

private:
    std::string outlet_;
    std::string active_;
    std::string reactive_;
};

}  // namespace

KVT40_CLI_COMMAND(PresetEnergyCommand, "preset-energy", "preset-energy --outlet N --active X --reactive Y",
                  "set an outlet's energy counters (internal item)", 70)
