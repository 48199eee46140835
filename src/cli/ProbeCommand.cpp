// kvt40ctl probe: what the Connect dialog does; prints its status text.
#include "cli/CliCommand.h"

namespace {
class ProbeCommand final : public CliCommand {
public:
    void Declare(CLI::App&) override {}
    int Run(CliContext& ctx) override {
        std::string status;
        if (!ctx.ConnectLink(status)) return ctx.Code();
        ctx.out << status << "\n";
        return kExitOk;
    }
};
}  // namespace

KVT40_CLI_COMMAND(ProbeCommand, "probe", "probe", "connect: read 10 registers from 0 and print the status",
                  20)
