// kvt40ctl retry: sequence B for the module that waits in its bootloader.
#include "cli/CliCommand.h"
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
    }

    int Run(CliContext& ctx) override {
        if (image_.empty()) return ctx.Usage("retry needs --image FILE");
        std::string why;
        const auto size = ProbeImage(image_, why);
        if (!size) return ctx.Failed("kvt40ctl: " + why);
        if (!YmodemSender::FitsInitialPacket(image_, *size))
            return ctx.Failed("kvt40ctl: the image path is too long for the header block");
        if (!ctx.OpenLink()) return ctx.Code();

        TerminalProgress bar(ctx.err);
        std::atomic<std::uint32_t> progress{0};
        UpdateSequences sequences(ctx.Link(), ctx.TheClock(), progress);
        sequences.SetProgressObserver([&](std::uint32_t done) { bar.Show(TransferProgressLine(0, done, *size)); });
        UpdateLog log;  // the bootloader's texts of this retry
        const auto outcome = sequences.SequenceB(image_, log);
        bar.Clear();
        using O = UpdateSequences::RetryOutcome;
        switch (outcome) {
        case O::Delivered: ctx.out << update_text::kRetrySucceeded << "\n"; return kExitOk;
        case O::NoBootloader: return ctx.Failed("No bootloader answered");
        case O::ImageUnreadable:
        case O::PathTooLong: ctx.err << "kvt40ctl: " << sequences.Problem() << "\n"; break;
        case O::Interrupted:
        case O::Failed: break;
        }
        ctx.out << update_text::kRetryFailed << "\n";
        return kExitFailed;
    }

private:
    std::string image_;
};

}  // namespace

KVT40_CLI_COMMAND(RetryCommand, "retry", "retry --image FILE",
                  "update the module that waits in its bootloader: prints \"升级成功!\" or \"升级失败!\"", 82)
