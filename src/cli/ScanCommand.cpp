// kvt40ctl scan: the update form's bus scan; one found address per line.
#include "cli/CliCommand.h"
#include "update/BusScan.h"
#include "update/ModuleState.h"
#include "update/TerminalProgress.h"

namespace {

constexpr const char* kRangeUsage = "--from and --to must be addresses from 1 to 247";

class ScanCommand final : public CliCommand {
public:
    void Declare(CLI::App& sub) override {
        sub.add_option("--from", from_, "first address to scan, 1 to 247 (default 1)");
        sub.add_option("--to", to_, "last address to scan, 1 to 247 (default 247)");
    }
    int Run(CliContext& ctx) override {
        int from = 0;
        int to = 0;
        if (!ParseIntArg(from_, BusScan::kMinAddress, BusScan::kMaxAddress, from) ||
            !ParseIntArg(to_, BusScan::kMinAddress, BusScan::kMaxAddress, to))
            return ctx.Usage(kRangeUsage);
        if (!ctx.OpenLink()) return ctx.Code();
        BusScan scan(ctx.Link(), ctx.GetClock());
        if (scan.Start(from, to) != BusScan::StartResult::Started)
            return ctx.Failed(std::string(update_text::kCannotConnect));
        TerminalProgress bar(ctx.err);
        const int total = std::max(to - from + 1, 1);
        const bool ended =
            scan.RunToEnd([&] { return !ctx.Interrupted(); },
                          [&](const BusScan::TickResult& tick) {
                              if (tick.found) {
                                  bar.Clear();
                                  ctx.out << scan.Found().back() << "\n" << std::flush;
                              }
                              bar.Show(ScanProgressLine(scan.Queried(), total, scan.Percent(),
                                                        static_cast<int>(scan.Found().size())));
                          });
        bar.Clear();
        return ended && !ctx.Interrupted() ? kExitOk : kExitFailed;
    }

private:
    std::string from_ = "1";
    std::string to_ = "247";
};

}  // namespace

KVT40_CLI_COMMAND(ScanCommand, "scan", "scan [--from N] [--to N]",
                  "the update form's bus scan: one found address per line", 80)
