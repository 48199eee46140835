// kvt40ctl measure: one full measurement cycle, then the grid as the form shows it.
// measure --watch [--count K]: the cycle kept running, one CSV line per completed cycle,
// for logging a load over hours.

#include "cli/CliCommand.h"
#include "cli/CycleTicks.h"
#include "monitor/MeasuresCycle.h"

namespace {

constexpr int kOutletColumns = 6;  // current, P, Q, S, kWh, kvarh: grid columns 1..6
// How often a watch tries to open a lost port again.
constexpr int kReopenMs = 1000;

class MeasureCommand final : public CliCommand {
public:
    void Declare(CLI::App& sub) override {
        sub.add_flag("--watch", watch_, "keep the cycle running: one CSV line per cycle until Ctrl-C");
        sub.add_option("--count", countText_, "with --watch: stop after K cycles");
    }
    int Run(CliContext& ctx) override {
        int count = 0;
        if (!countText_.empty() && !watch_) return ctx.Usage("--count needs --watch");
        if (!countText_.empty() && !ParseIntArg(countText_, 1, 1000000000, count))
            return ctx.Usage("--count must be a whole number of cycles from 1");
        if (!ctx.OpenLink()) return ctx.Code();
        MeasuresCycle cycle(ctx.Link(), ctx.GetClock());
        if (watch_) return Watch(ctx, cycle, count);
        cycle.Open();
        return PrintAfterTicks(ctx, cycle, MeasuresCycle::kSteps);
    }

private:
    static std::string Header() {
        std::string h = "time,Ua,Ub,Uc,F";
        for (int n = 1; n <= MeasuresCycle::kOutlets; ++n) {
            const std::string k = std::to_string(n);
            h += ",I" + k + ",P" + k + ",Q" + k + ",S" + k + ",kWh" + k + ",kvarh" + k;
        }
        return h;
    }
    static std::string Line(const MeasuresCycle& cycle, const LocalTime& at) {
        std::string l = FormatIsoTime(at);
        for (int c : {1, 2, 3, 5}) l += "," + cycle.Cell(1, c);
        for (int n = 1; n <= MeasuresCycle::kOutlets; ++n)
            for (int c = 1; c <= kOutletColumns; ++c) l += "," + cycle.Cell(n + 2, c);
        return l;
    }

    // A missed reply restarts the cycle as "Read data" does (retried every period while
    // the module stays silent); the miss and the restart are told on stderr with their
    // times, so a log with a gap says why. A lost port (an adapter pulled) is opened again
    // every second until it is back, then the cycle restarts.
    static int Watch(CliContext& ctx, MeasuresCycle& cycle, int count) {
        Clock& clock = ctx.GetClock();
        ctx.out << Header() << "\n" << std::flush;
        cycle.Open();
        bool stopped = false;
        for (int done = 0; count == 0 || done < count;) {
            if (const std::string lost = ctx.PortLostReason(); !lost.empty()) {
                ctx.err << FormatIsoTime(ctx.Wall().Now()) << " port lost (" << lost << "); reopening every "
                        << kReopenMs / 1000 << " s\n"
                        << std::flush;
                while (!ctx.Interrupted() && !ctx.ReopenLink()) clock.sleep(kReopenMs);
                if (ctx.Interrupted()) break;
                ctx.err << FormatIsoTime(ctx.Wall().Now()) << " port back\n" << std::flush;
                stopped = true;  // the cycle starts again from its opening exchange
            }
            clock.sleep(MeasuresCycle::kPollMs);
            if (ctx.Interrupted()) break;
            if (stopped) {
                if (!cycle.ReadData(nullptr)) continue;
                stopped = false;
                ctx.err << FormatIsoTime(ctx.Wall().Now()) << " cycle restarted\n" << std::flush;
                continue;
            }
            const bool last = cycle.PollStep() == MeasuresCycle::kSteps - 1;
            // The counted run's very last tick asks for nothing more.
            const bool final = last && count != 0 && done + 1 == count;
            if (!(final ? cycle.LastTick() : cycle.Tick())) {
                if (ctx.Interrupted()) break;
                const ModbusSession& s = cycle.Session();
                if (s.LastFailure() == ExchangeFailure::PortLost) continue;  // told at the top
                ctx.err << FormatIsoTime(ctx.Wall().Now()) << " missed reply ("
                        << FailureText(s.LastFailure(), s.Address(), s.LastExceptionCode())
                        << "); restarting the cycle\n"
                        << std::flush;
                stopped = true;
                continue;
            }
            if (!last) continue;
            ctx.out << Line(cycle, ctx.Wall().Now()) << "\n" << std::flush;
            if (!ctx.out) return kExitFailed;  // the caller says the output failed
            ++done;
        }
        return kExitOk;
    }

    bool watch_ = false;
    std::string countText_;
};

}  // namespace

KVT40_CLI_COMMAND(MeasureCommand, "measure", "measure [--watch [--count K]]",
                  "one full measurement cycle: 33 lines of 7 tab-separated cells; --watch: CSV per cycle", 40)
