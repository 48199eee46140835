// kvt40ctl update: sequence A for each module in order, one "ADDRESS<TAB>STATE" line each.
#include "cli/CliCommand.h"
#include "cli/ImageArg.h"
#include "link/UpdateLog.h"
#include "update/BusScan.h"
#include "update/ImageFile.h"
#include "update/ModuleState.h"
#include "update/TerminalProgress.h"
#include "update/UpdateSequences.h"
#include "update/YmodemSender.h"

namespace {

// "3-17" into its two addresses.
bool ParseRange(const std::string& text, int& from, int& to) {
    const auto dash = text.find('-');
    return dash != std::string::npos && ParseIntArg(text.substr(0, dash), 1, 247, from) &&
           ParseIntArg(text.substr(dash + 1), 1, 247, to);
}

class UpdateCommand final : public CliCommand {
public:
    void Declare(CLI::App& sub) override {
        sub.add_option("--image", image_, "the firmware image (.bin) to send");
        sub.add_flag("--force", force_, "send an image larger than 1 MiB (1048576 bytes) too");
        sub.add_option("--address", addresses_, "a module to update, 1 to 247 (repeat for more, in order)");
        sub.add_option("--scan", scan_, "update every module a scan of FROM-TO finds, e.g. 1-247");
    }

    int Run(CliContext& ctx) override {
        if (image_.empty()) return ctx.Usage("update needs --image FILE");
        if (addresses_.empty() == scan_.empty())
            return ctx.Usage("update needs --address N... or --scan FROM-TO");
        std::vector<int> modules;
        for (const std::string& a : addresses_) {
            int address = 0;
            if (!ParseIntArg(a, 1, 247, address))
                return ctx.Usage("--address must be from 1 to 247, not '" + a + "'");
            modules.push_back(address);
        }
        int from = 0;
        int to = 0;
        if (!scan_.empty() && !ParseRange(scan_, from, to))
            return ctx.Usage("--scan must be FROM-TO with addresses from 1 to 247, not '" + scan_ + "'");
        // An image that cannot be sent is refused before a byte reaches the bus.
        const auto image = CheckImageArg(ctx, image_, force_);
        if (!image) return ctx.Code();

        if (!ctx.OpenLink()) return ctx.Code();
        TerminalProgress bar(ctx.err);
        if (!scan_.empty()) {
            BusScan scan(ctx.Link(), ctx.GetClock());
            if (scan.Start(from, to) != BusScan::StartResult::Started)
                return ctx.Failed(std::string(update_text::kCannotConnect));
            const int total = std::max(to - from + 1, 1);
            const bool ended =
                scan.RunToEnd([&] { return !ctx.Interrupted(); },
                              [&](const BusScan::TickResult&) {
                                  bar.Show(ScanProgressLine(scan.Queried(), total, scan.Percent(),
                                                            static_cast<int>(scan.Found().size())));
                              });
            bar.Clear();
            if (!ended || ctx.Interrupted()) return kExitFailed;
            modules = scan.Found();
            if (modules.empty()) return ctx.Failed("kvt40ctl: no module answered in " + scan_);
        }

        std::atomic<std::uint32_t> progress{0};
        UpdateSequences sequences(ctx.Link(), ctx.GetClock(), progress);
        sequences.LiftImageCap(force_);
        int current = 0;
        sequences.SetProgressObserver(
            [&](std::uint32_t done) { bar.Show(TransferProgressLine(current, done, image->size)); });
        bool allOk = true;
        bool lostTold = false;
        for (const int address : modules) {
            if (ctx.Interrupted()) break;
            current = address;
            if (lostTold) {
                // Nothing can reach the modules after the port was lost: say so, without waiting.
                ctx.err << "kvt40ctl: module " << address << " not reached: the port was lost\n";
                ctx.out << address << "\t" << ModuleStateText(ModuleState::Waiting) << "\n" << std::flush;
                allOk = false;
                continue;
            }
            const auto state = sequences.SequenceA(address, image->path, ctx.Run().updateLog);
            bar.Clear();
            // Skipped by a pause that came between two modules: not handled, no line.
            if (!state && ctx.Interrupted()) break;
            if (state && (*state == ModuleState::ImageUnreadable || *state == ModuleState::PathTooLong))
                ctx.err << "kvt40ctl: " << sequences.Problem() << "\n";
            // A module left untouched (no "==", no "C") shows what its row showed: "等待".
            ctx.out << address << "\t" << ModuleStateText(state.value_or(ModuleState::Waiting)) << "\n"
                    << std::flush;
            allOk = allOk && state == ModuleState::UpdatedCalOk;
            if (!ctx.PortLostReason().empty()) {
                ctx.TellFailureReason();
                lostTold = true;
            }
        }
        ctx.FailureExplained();  // each module's line says how it ended
        return allOk && !ctx.Interrupted() ? kExitOk : kExitFailed;
    }

private:
    std::string image_;
    bool force_ = false;
    std::vector<std::string> addresses_;
    std::string scan_;
};

}  // namespace

KVT40_CLI_COMMAND(UpdateCommand, "update", "update --image FILE [--force] (--address N)... | --scan FROM-TO",
                  "firmware update, one ADDRESS<TAB>STATE line per module", 81)
