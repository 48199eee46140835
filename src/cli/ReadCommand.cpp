// kvt40ctl read START COUNT: one line per register, ADDRESS<TAB>VALUE.
#include "cli/CliCommand.h"

namespace {

constexpr int kReadWaitMs = 200;

class ReadCommand final : public CliCommand {
public:
    void Declare(CLI::App& sub) override {
        sub.add_option("START", startText_, "first register, 0 to 65535")->required();
        sub.add_option("COUNT", countText_, "registers, 1 to 125")->required();
    }
    int Run(CliContext& ctx) override {
        int start = 0;
        int count = 0;
        if (!ParseIntArg(startText_, 0, 65535, start))
            return ctx.Usage("START must be a register address from 0 to 65535");
        if (!ParseIntArg(countText_, 1, 125, count) || start + count > 65536)
            return ctx.Usage("COUNT must be from 1 to 125 and stay below register 65536");
        if (!ctx.OpenLink()) return ctx.Code();
        ModbusSession session = ctx.Session();
        const auto regs = session.ReadRegisters(start, count, kReadWaitMs);
        if (!regs) return ctx.Failed(kCommFailedText);
        for (int i = 0; i < count; ++i)
            ctx.out << (start + i) << '\t' << (*regs)[static_cast<std::size_t>(i)] << "\n";
        return kExitOk;
    }

private:
    std::string startText_;
    std::string countText_;
};

}  // namespace

KVT40_CLI_COMMAND(ReadCommand, "read", "read START COUNT", "read COUNT (1-125) holding registers from START",
                  30)
