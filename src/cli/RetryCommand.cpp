// kvt40ctl retry: sequence B for the module that waits in its bootloader.
#include "cli/CliCommand.h"
#include "cli/ImageArg.h"
#include "link/UpdateLog.h"
#include "update/ImageFile.h"
#include "update/ModuleState.h"
#include "update/TerminalProgress.h"
#include "update/UpdateSequences.h"
#include "update/YmodemSender.h"

namespace {

class RetryCommand final : public CliCommand {
public:
    void Declare(CLI::App& sub) override {
        sub.add_option("--image", image_, "the firmware image (.bin) to send");
        sub.add_flag("--force", force_, "send an image larger than 1 MiB (1048576 bytes) too");
    }

    int Run(CliContext& ctx) override {
        if (image_.empty()) return ctx.Usage("retry needs --image FILE");
        const auto image = CheckImageArg(ctx, image_, force_);
        if (!image) return ctx.Code();
        if (!ctx.OpenLink()) return ctx.Code();

        TerminalProgress bar(ctx.err);
        std::atomic<std::uint32_t> progress{0};
        UpdateSequences sequences(ctx.Link(), ctx.GetClock(), progress);
        sequences.LiftImageCap(force_);
        sequences.SetProgressObserver(
            [&](std::uint32_t done) { bar.Show(TransferProgressLine(0, done, image->size)); });
        UpdateLog log;  // the bootloader's texts of this retry
        const auto outcome = sequences.SequenceB(image->path, log);
        bar.Clear();
        using O = UpdateSequences::RetryOutcome;
        switch (outcome) {
            case O::Delivered:
                ctx.out << update_text::kRetrySucceeded << "\n";
                return kExitOk;
            case O::NoBootloader:
                return ctx.Failed("No bootloader answered");
            case O::ImageUnreadable:
            case O::PathTooLong:
                ctx.err << "kvt40ctl: " << sequences.Problem() << "\n";
                break;
            case O::Interrupted:
                return kExitInterrupted;  // no transfer had begun: nothing failed
            case O::Failed:
                break;
        }
        ctx.out << update_text::kRetryFailed << "\n";
        return kExitFailed;
    }

private:
    std::string image_;
    bool force_ = false;
};

}  // namespace

KVT40_CLI_COMMAND(RetryCommand, "retry", "retry --image FILE [--force]",
                  "update the module that waits in its bootloader: prints \"升级成功!\" or \"升级失败!\"", 82)
