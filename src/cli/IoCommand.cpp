// kvt40ctl io [--relay1 on|off --relay2 on|off]: the status form's polls (three ticks fill
// both lamp pairs) and, with the relays given, its "测试" and three ticks more.
#include "cli/CliCommand.h"
#include "cli/CycleTicks.h"
#include "monitor/InputRelayCycle.h"
#include "monitor/ReadFailureText.h"

namespace {

constexpr int kTicks = 3;

class IoCommand final : public CliCommand {
public:
    void Declare(CLI::App& sub) override {
        sub.add_option("--relay1", relay1_, "close (on) or open (off) relay 1; needs --relay2");
        sub.add_option("--relay2", relay2_, "close (on) or open (off) relay 2; needs --relay1");
    }
    int Run(CliContext& ctx) override {
        // The test always sends both coils, so a relay left out would be opened unasked.
        if (relay1_.empty() != relay2_.empty())
            return ctx.Usage("--relay1 and --relay2 go together: the test sets both relays");
        const bool test = !relay1_.empty();
        bool close1 = false;
        bool close2 = false;
        if (test && (!OnOff(relay1_, close1) || !OnOff(relay2_, close2)))
            return ctx.Usage("--relay1 and --relay2 take on or off");
        if (!ctx.OpenLink()) return ctx.Code();
        InputRelayCycle cycle(ctx.Link(), ctx.GetClock(), ctx.Run().statusPollPhase);
        cycle.Open();
        if (!Ticks(ctx, cycle)) return ctx.Failed(kUnableToReadText);
        if (test) {
            cycle.Test(close1, close2);
            if (!Ticks(ctx, cycle)) return ctx.Failed(kUnableToReadText);
        }
        for (int l = 0; l < InputRelayCycle::kLamps; ++l)
            ctx.out << InputRelayCycle::Name(l) << '\t' << (cycle.Lit(l) ? 1 : 0) << "\n";
        return kExitOk;
    }

private:
    static bool OnOff(const std::string& text, bool& closed) {
        if (text != "on" && text != "off") return false;
        closed = text == "on";
        return true;
    }
    // The last tick asks for nothing more: the relay test's first write, or the next
    // command, never goes out while a reply is on its way.
    static bool Ticks(CliContext& ctx, InputRelayCycle& cycle) {
        if (!RunTicks(ctx, cycle, kTicks)) return false;
        for (int l = 0; l < InputRelayCycle::kLamps; ++l)
            if (!cycle.Filled(l)) return false;
        return true;
    }

    std::string relay1_;
    std::string relay2_;
};

}  // namespace

KVT40_CLI_COMMAND(IoCommand, "io", "io [--relay1 on|off --relay2 on|off]",
                  "digital inputs and relays: DI1, DI2, DO1, DO2 (1 = lit); the relays set first", 45)
