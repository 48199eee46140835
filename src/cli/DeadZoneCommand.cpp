// kvt40ctl dead-zone [--set V1 .. V10]: the dead-zone dialog's grid after 读取 (11 lines of
// 3 tab-separated cells); with --set the ten set values in the dialog's row order are
// written first, as the dialog writes them, and the grid read back is printed.
#include "calibration/AdjustIds.h"
#include "calibration/DeadZone.h"
#include "cli/CliCommand.h"

namespace {

class DeadZoneCommand final : public CliCommand {
public:
    void Declare(CLI::App& sub) override {
        set_ = sub.add_option("--set", values_, "the set values of rows 1 to 10, each 0 to 65535")
                   ->expected(10)
                   ->check(CLI::Range(0, 65535));
    }
    int Run(CliContext& ctx) override {
        if (!ctx.OpenLink()) return ctx.Code();
        DeadZone dz(ctx.Link(), ctx.GetClock());
        bool ok = false;
        if (set_->count() > 0) {
            for (int r = 1; r <= 10; ++r)
                dz.Cells().Set(r, DeadZone::kSetCol,
                               std::to_string(values_[static_cast<std::size_t>(r - 1)]));
            ok = dz.Set(nullptr);
        } else {
            ok = dz.Read(nullptr);
        }
        if (!ok) return ctx.Failed(adjust::kCannotRead);
        ctx.out << dz.Cells().Tsv();
        // The grid shows what the module holds; a write it refused or dropped is no success.
        if (const auto& fault = dz.WriteFault(); set_->count() > 0 && fault)
            return ctx.Failed("kvt40ctl: " + *fault);
        return kExitOk;
    }

private:
    CLI::Option* set_ = nullptr;
    std::vector<int> values_;
};

}  // namespace

KVT40_CLI_COMMAND(DeadZoneCommand, "dead-zone", "dead-zone [--set V1 .. V10]",
                  "the dead-zone grid (11 lines of 3); --set writes rows 1 to 10 first", 61)
