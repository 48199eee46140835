// kvt40ctl calibrate: what the calibration form runs (a meter test, a meter calibration or
// an angle calibration of the line or of one circuit), then the comparison table as it
// stands after the last reading, and the test report when asked. Exit 0 when no row is
// NG, 3 when one is, 1 when the module failed or the form would refuse the run, 4 when
// the report could not be written after the run.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <iostream>
#include <optional>
#include <utility>

#include "calibration/CalibrationCycle.h"
#include "calibration/ReportWriter.h"
#include "calibration/StandardSourceFollower.h"
#include "cli/CliCommand.h"

namespace {

constexpr int kExitNg = 3;

// Keeps the last warning for stderr; notices ("校准完成!") are not output.
class WarningSink final : public MessageSink {
public:
    MsgResult Show(const std::string& text, const std::string&, MsgIcon icon, MsgButtons) override {
        if (icon == MsgIcon::Stop) last = text;
        return MsgResult::Ok;
    }
    std::string last;
};

int IndexOf(const auto& texts, const std::string& text) {
    for (std::size_t k = 0; k < texts.size(); ++k)
        if (text == texts[k]) return static_cast<int>(k);
    return -1;
}

template <std::size_t N>
std::vector<std::string> Texts(const std::array<const char*, N>& list) {
    return std::vector<std::string>(list.begin(), list.end());
}

class CalibrateCommand final : public CliCommand {
public:
    void Declare(CLI::App& sub) override {
        sub.add_option("--view", view_, "line (the incoming line) or circuit")
            ->required()
            ->check(CLI::IsMember({"line", "circuit"}));
        circuit_ = sub.add_option("--circuit", circuitNumber_,
                                  "circuit 1 to 30 (default: the first the module offers)")
                       ->check(CLI::Range(1, 30));
        sub.add_option(
               "--mode", mode_,
               "test (meter test), meter (meter calibration), angle (angle calibration) or meter+angle "
               "(a meter calibration at 1.0, then an angle calibration at 0.5L that keeps its gains)")
            ->required()
            ->check(CLI::IsMember({"test", "meter", "angle", kMeterThenAngle}));
        sub.add_option("--ua", source_.ua, "standard voltage of phase A in V (default 220)")
            ->check(CLI::Range(0.0, 1000.0));
        sub.add_option("--ub", source_.ub, "standard voltage of phase B in V (default 220)")
            ->check(CLI::Range(0.0, 1000.0));
        sub.add_option("--uc", source_.uc, "standard voltage of phase C in V (default 220)")
            ->check(CLI::Range(0.0, 1000.0));
        sub.add_option("--ia", source_.ia, "standard current in A (default 5)")
            ->check(CLI::Range(0.0, 100.0));
        sub.add_option("--ct", ct_, "CT ratio (default 1)")
            ->check(CLI::Range(0, CalibrationCycle::kMaxCtRatio));
        sub.add_option("--voltage-step", voltageStep_, "20%, 50%, 80%, 100% (default) or 120%")
            ->check(CLI::IsMember(Texts(AdjustFormulas::kVoltageStepTexts)));
        sub.add_option("--current-step", currentStep_, "5%, 20%, 50%, 80%, 100% (default) or 120%")
            ->check(CLI::IsMember(Texts(AdjustFormulas::kCurrentStepTexts)));
        sub.add_option("--pf", pf_, "power factor step: 1.0 (default), 0.866L, 0.5L, 0.866C or 0.5C")
            ->check(CLI::IsMember(Texts(AdjustFormulas::kPfStepTexts)));
        sub.add_option("--readings", readings_, "readings of the meter test, one per 800 ms (default 1)")
            ->check(CLI::Range(1, 100000));
        DeclareKeptGains(sub);
        CLI::Option* report = sub.add_option("--report", report_.path, "append the test report to FILE");
        sub.add_flag("--english", report_.english, "the English report")->needs(report);
        sub.add_option("--serial", report_.serial, "serial number (digits)")->needs(report)->check(Digits());
        sub.add_option("--model", report_.model, "meter model (default KVT40)")->needs(report);
        sub.add_option("--tester", report_.tester, "tester 0 to 9 (检 00 .. 检 09)")
            ->needs(report)
            ->check(CLI::Range(0, 9));
        sub.add_option("--rated-voltage", ratedVoltage_, "100V or 220V (default)")
            ->needs(report)
            ->check(CLI::IsMember({"100V", "220V"}));
        sub.add_option("--rated-current", ratedCurrent_, "1A or 5A (default)")
            ->needs(report)
            ->check(CLI::IsMember({"1A", "5A"}));
    }

    int Run(CliContext& ctx) override {
        const bool line = view_ == "line";
        if (line && (mode_ == "angle" || mode_ == kMeterThenAngle))
            return ctx.Usage("--mode " + mode_ + " needs --view circuit");
        if (const auto fault = KeptGainsFault()) return ctx.Usage(*fault);
        if (line && circuit_->count() > 0) return ctx.Usage("--circuit needs --view circuit");
        if (const int code = CheckBeforeTheModule(ctx); code != kExitOk) return code;
        if (!ctx.OpenLink()) return ctx.Code();

        WarningSink sink;
        ctx.Run().calibration.ForgetAll();  // a run keeps only what it calibrates or is given
        CalibrationCycle cycle(ctx.Link(), ctx.GetClock(), sink, ctx.Run().calibration);
        if (StandardSourceFollower* bench = ctx.env.bench) {
            const LinkState& link = ctx.Link();
            cycle.SetSourceFollower([bench, &link, this](const StandardValues& s, int pf) {
                sourceFollows_ = bench->Follow(link, s, pf);
            });
        }
        cycle.Open();
        if (line) {
            cycle.OnIncomingLine();
        } else {
            if (!cycle.OnReadCtModules()) return ctx.Failed(sink.last);
            if (cycle.Circuits().empty()) return ctx.Failed("kvt40ctl: the module offers no circuit");
            if (circuit_->count() > 0 && !cycle.SelectCircuit(circuitNumber_))
                return ctx.Failed("kvt40ctl: circuit " + std::to_string(circuitNumber_) +
                                  " is not offered by the module");
        }
        cycle.SetSource(source_);
        cycle.SetCtRatio(ct_);
        cycle.SetSteps({IndexOf(AdjustFormulas::kVoltageStepTexts, voltageStep_),
                        IndexOf(AdjustFormulas::kCurrentStepTexts, currentStep_),
                        IndexOf(AdjustFormulas::kPfStepTexts, pf_)});
        const AdjustMode mode = mode_ == "test"    ? AdjustMode::Test
                                : mode_ == "meter" ? AdjustMode::Meter
                                                   : AdjustMode::Angle;
        if (mode_ == kMeterThenAngle) {
            if (!MeterBeforeAngle(cycle))
                return ctx.Failed(sink.last.empty() ? adjust::kCannotReadInTick : sink.last);
            if (!SourceAtHalfLagging(ctx)) return ctx.Failed(kNoSwitchText);
        } else if (mode == AdjustMode::Angle) {
            KeepGivenGains(cycle.Memory(), ctx.Link(), cycle.Circuit());
        }
        if (!cycle.OnStartRun(mode)) return ctx.Failed(sink.last);

        int tested = 0;
        while (tested < readings_) {
            cycle.WaitForTick();
            const bool testing = cycle.Mode() == AdjustMode::Test;
            // The last reading asks for no next one: no reply is left for the next command.
            const bool last = testing && tested + 1 == readings_;
            if (!(last ? cycle.LastTick() : cycle.Tick()))
                return ctx.Failed(sink.last.empty() ? adjust::kCannotReadInTick : sink.last);
            // The tick that finishes a calibration starts the meter test; its readings follow.
            if (testing) ++tested;
        }
        cycle.OnStop();
        ctx.out << cycle.Cells().Tsv();

        const bool ng = AdjustTable::AnyNg(cycle.Cells(), cycle.View());
        if (!report_.path.empty()) {
            ReportContent content{report_,       cycle.Steps().voltage, cycle.Steps().current,
                                  cycle.Cells(), cycle.View(),          ctx.Wall().Now()};
            const auto bytes = ReportWriter::Compose(content);
            std::string error = kReportNotEncodable;
            if (!bytes || !ReportWriter::Append(report_.path, *bytes, error)) {
                // The module was changed and judged: say how, as the exit code no longer can.
                ctx.err << error << "\n"
                        << "kvt40ctl: verdict " << (ng ? "NG (a row is NG)" : "OK (no row is NG)")
                        << "; the report was not written\n";
                return kExitReportNotWritten;
            }
        }
        return ng ? kExitNg : kExitOk;
    }

private:
    // Argument checks and the report's pre-check, before the port is opened: a value that
    // cannot be right, or a report that cannot be written, must not cost a module a run.
    int CheckBeforeTheModule(CliContext& ctx) {
        const std::pair<const char*, double> values[] = {
            {"--ua", source_.ua}, {"--ub", source_.ub}, {"--uc", source_.uc}, {"--ia", source_.ia}};
        for (const auto& [option, value] : values)
            if (!std::isfinite(value)) return ctx.Usage(std::string(option) + " must be a finite number");
        if (std::any_of(report_.model.begin(), report_.model.end(),
                        [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }))
            return ctx.Usage("--model must be one line of text, without control characters");
        if (report_.path.empty()) return kExitOk;
        report_.ratedVoltage = ratedVoltage_ == "100V" ? 0 : 1;
        report_.ratedCurrent = ratedCurrent_ == "1A" ? 0 : 1;
        if (!ReportWriter::Compose({report_, 3, 4, CellTable(), AdjustView::IncomingLine, LocalTime{}}))
            return ctx.Usage("--model '" + report_.model +
                             "' has characters that the report's GBK text cannot hold");
        std::string error;
        if (!ReportWriter::CanAppend(report_.path, error)) return ctx.Usage(error);
        return kExitOk;
    }

    // ---- The gains an angle calibration keeps (its block re-sends the current gain and
    // power correction). A run starts with none kept, so an angle calibration on its own
    // would write the defaults over the circuit's meter calibration: it needs the gains,
    // or the defaults asked for, or the meter calibration in the same run.
    static constexpr const char* kMeterThenAngle = "meter+angle";

    void DeclareKeptGains(CLI::App& sub) {
        gainOpt_ = sub.add_option("--current-gain", keptGain_,
                                  "with --mode angle: the current gain to keep (1 to 65535)")
                       ->check(CLI::Range(1, 65535));
        powerOpt_ = sub.add_option("--power-correction", keptPower_,
                                   "with --mode angle: the power correction to keep (0 to 65535)")
                        ->check(CLI::Range(0, 65535));
        defaultsOpt_ = sub.add_flag("--default-gains", keptDefaults_,
                                    "with --mode angle: keep the default gains 6378 and 0");
        gainOpt_->needs(powerOpt_);
        powerOpt_->needs(gainOpt_);
        defaultsOpt_->excludes(gainOpt_)->excludes(powerOpt_);
    }

    std::optional<std::string> KeptGainsFault() const {
        const bool given = gainOpt_->count() > 0;
        const bool defaults = defaultsOpt_->count() > 0;
        if ((given || defaults) && mode_ != "angle")
            return std::string("--current-gain, --power-correction and --default-gains need --mode angle");
        if (mode_ == "angle" && !given && !defaults)
            return std::string(
                "--mode angle would write the default gains 6378 and 0 over the circuit's meter calibration: "
                "give --current-gain and --power-correction, or --default-gains, or use --mode meter+angle");
        if (mode_ == kMeterThenAngle && pf_ != AdjustFormulas::kPfStepTexts[AdjustFormulas::kPfOne])
            return std::string(
                "--mode meter+angle sets the power factor itself (1.0, then 0.5L): leave out --pf");
        return std::nullopt;
    }

    void KeepGivenGains(CalibrationMemory& memory, const LinkState& link, int circuit) const {
        if (gainOpt_->count() > 0)
            memory.Keep(link, circuit, {keptGain_, keptPower_});
        else
            memory.Forget(link, circuit);
    }

    // The meter calibration at 1.0 to its end; then the steps of the angle calibration.
    static bool MeterBeforeAngle(CalibrationCycle& cycle) {
        StepChoice steps = cycle.Steps();
        steps.powerFactor = AdjustFormulas::kPfOne;
        cycle.SetSteps(steps);
        if (!cycle.OnStartRun(AdjustMode::Meter)) return false;
        while (cycle.Calibrating()) {
            cycle.WaitForTick();
            if (!cycle.Tick()) return false;
        }
        cycle.OnStop();
        steps.powerFactor = AdjustFormulas::kPfHalfL;
        cycle.SetSteps(steps);
        return true;
    }

    // A source that does not follow the run (a real bench) is switched by the technician
    // between the two calibrations: the run waits for a line on standard input.
    static constexpr const char* kNoSwitchText =
        "kvt40ctl: no line on standard input: the angle calibration was not started";
    bool SourceAtHalfLagging(CliContext& ctx) const {
        if (sourceFollows_) return true;
        ctx.err << "kvt40ctl: set the standard source to power factor 0.5L, then press Enter\n";
        ctx.err.flush();
        std::string line;
        return static_cast<bool>(std::getline(std::cin, line));
    }

    bool sourceFollows_ = false;
    CLI::Option* gainOpt_ = nullptr;
    CLI::Option* powerOpt_ = nullptr;
    CLI::Option* defaultsOpt_ = nullptr;
    int keptGain_ = 0;
    int keptPower_ = 0;
    bool keptDefaults_ = false;
    // ---- end of the kept gains

    static CLI::Validator Digits() {
        return CLI::Validator(
            [](std::string& s) {
                const bool ok =
                    std::all_of(s.begin(), s.end(), [](char ch) { return ch >= '0' && ch <= '9'; });
                return ok ? std::string() : std::string("the serial number takes digits only");
            },
            "DIGITS");
    }

    std::string view_;
    std::string mode_;
    CLI::Option* circuit_ = nullptr;
    int circuitNumber_ = 0;
    SourceSettings source_;
    int ct_ = 1;
    std::string voltageStep_ = "100%";
    std::string currentStep_ = "100%";
    std::string pf_ = "1.0";
    int readings_ = 1;
    ReportSettings report_;
    std::string ratedVoltage_ = "220V";
    std::string ratedCurrent_ = "5A";
};

}  // namespace

KVT40_CLI_COMMAND(CalibrateCommand, "calibrate",
                  "calibrate --view line|circuit --mode test|meter|angle [...]",
                  "meter test or calibration as the calibration form runs it; the 10 x 9 table", 60)
