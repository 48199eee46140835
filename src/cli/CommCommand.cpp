// kvt40ctl comm [--set-address N [--set-baud B]]: the module's address and baud rate as
// the form reads them; with --set-address the form's write, its read-back where the module
// now answers, then a probe at the new settings, whose result alone decides the exit code.
#include "cli/CliCommand.h"
#include "cli/SettingsCli.h"
#include "settings/AddressBaudSettings.h"

namespace {

class CommCommand final : public CliCommand {
public:
    void Declare(CLI::App& sub) override {
        address_ = sub.add_option("--set-address", addressText_, "write the module address N (1 to 247)");
        baud_ = sub.add_option("--set-baud", baudText_,
                               "and its baud rate: 4800, 9600 or 19200 (default: unchanged)")
                    ->needs(address_);
    }

    int Run(CliContext& ctx) override {
        int baud = 0;
        if (baud_->count() > 0 && (!ParseIntArg(baudText_, 1, 1000000, baud) || BaudIndexOf(baud) < 0))
            return ctx.Usage("--set-baud must be 4800, 9600 or 19200, not '" + baudText_ + "'");
        if (address_->count() > 0) {
            // Taken as the form takes it ("12abc" is 12), but refused before the module is read.
            AddressBaudSettings typed(ctx.Link(), ctx.GetClock());
            typed.SetTyped(1, addressText_);
            if (typed.TypedAddress() < 1 || typed.TypedAddress() > 247)
                return ctx.Usage("--set-address must be from 1 to 247, not '" + addressText_ + "'");
        }
        if (!ctx.OpenLink()) return ctx.Code();
        AddressBaudSettings params(ctx.Link(), ctx.GetClock());
        KeptMessages sink;
        if (!params.Read(sink)) return ctx.Failed(sink.Last());
        if (address_->count() == 0) {
            ctx.out << params.Cells().Tsv();
            return kExitOk;
        }

        params.SetTyped(1, addressText_);
        if (baud != 0) params.SetTyped(2, AddressBaudSettings::BaudOptionText(BaudIndexOf(baud)));
        // The form's way: the link follows the module to its new settings and reads back there.
        const auto reopen = [&ctx](int baudIndex) {
            return ctx.env.open(ctx.Link().portName, BaudRateOf(baudIndex), 8, 0, 0);
        };
        const WriteOutcome written = params.Set(sink, reopen);
        if (ctx.Interrupted()) return kExitInterrupted;  // its read-back failed by the stop, not the module
        if (written == WriteOutcome::Refused) return ctx.Failed(sink.Last());
        // Where the module answers, if anywhere, when it was not found at its new settings.
        if (written == WriteOutcome::Failed) ctx.err << sink.Last() << "\n";
        ctx.out << params.Cells().Tsv();
        ctx.out.flush();

        std::string status;
        if (!ctx.ConnectLink(status, static_cast<int>(params.TypedAddress()),
                             BaudRateOf(params.TypedBaudIndex())))
            return ctx.Code();
        ctx.out << status << "\n";
        return kExitOk;
    }

private:
    std::string addressText_;
    std::string baudText_;
    CLI::Option* address_ = nullptr;
    CLI::Option* baud_ = nullptr;
};

}  // namespace

KVT40_CLI_COMMAND(CommCommand, "comm", "comm [--set-address N [--set-baud B]]",
                  "module address and baud rate: 3 lines of 3 cells; --set-address writes them", 50)
