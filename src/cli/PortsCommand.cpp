// kvt40ctl ports: the serial ports of this machine, one per line.
#include "cli/CliCommand.h"

namespace {
class PortsCommand final : public CliCommand {
public:
    void Declare(CLI::App&) override {}
    int Run(CliContext& ctx) override {
        if (ctx.env.listPorts)
            for (const auto& p : ctx.env.listPorts()) ctx.out << p << "\n";
        return kExitOk;
    }
};
}  // namespace

KVT40_CLI_COMMAND(PortsCommand, "ports", "ports", "list the serial ports, one per line", 10)
