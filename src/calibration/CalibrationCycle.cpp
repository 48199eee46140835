#include "calibration/CalibrationCycle.h"

#include <algorithm>
#include <array>
#include <chrono>

using namespace adjust;

namespace {

constexpr std::array<int, 7> kDisableSet{IDC_METER_TEST, IDC_METER_CAL,  IDC_ANGLE_CAL, IDC_RESTORE,
                                         IDC_REPORT,     IDC_STD_SOURCE, IDC_DEAD_ZONE};
constexpr std::array<int, 7> kEnableSet{IDC_METER_TEST, IDC_METER_CAL, IDC_STOP,     IDC_RESTORE,
                                        IDC_STD_SOURCE, IDC_REPORT,    IDC_DEAD_ZONE};
// The buttons that address the selected circuit.
constexpr std::array<int, 4> kCircuitActions{IDC_METER_TEST, IDC_METER_CAL, IDC_ANGLE_CAL, IDC_RESTORE};

constexpr Clock::Micros Ms(int ms) {
    return Clock::Micros(std::int64_t{ms} * 1000);
}

}  // namespace

CalibrationCycle::CalibrationCycle(LinkState& link, Clock& clock, MessageSink& sink,
                                   CalibrationMemory& memory)
    : PollingCycle(link, clock), sink_(sink), memory_(memory) {
    AdjustTable::Build(cells_, view_);
}

const std::vector<int>& CalibrationCycle::ActionButtons() {
    static const std::vector<int> ids{IDC_METER_TEST, IDC_METER_CAL, IDC_ANGLE_CAL,  IDC_STOP,
                                      IDC_RESTORE,    IDC_REPORT,    IDC_STD_SOURCE, IDC_DEAD_ZONE};
    return ids;
}

const std::vector<int>& CalibrationCycle::RunSettingControls() {
    static const std::vector<int> ids = [] {
        std::vector<int> v{IDC_CIRCUIT_LIST, IDC_READ_CT, IDC_CT_RATIO};
        for (int k = 0; k < static_cast<int>(AdjustFormulas::kVoltageSteps.size()); ++k)
            v.push_back(IDC_VOLTAGE_STEP0 + k);
        for (int k = 0; k < static_cast<int>(AdjustFormulas::kCurrentSteps.size()); ++k)
            v.push_back(IDC_CURRENT_STEP0 + k);
        for (int k = 0; k < static_cast<int>(AdjustFormulas::kPfStepTexts.size()); ++k)
            v.push_back(IDC_PF_STEP0 + k);
        return v;
    }();
    return ids;
}

bool CalibrationCycle::Enabled(int controlId) const {
    const auto& locked = RunSettingControls();
    if (std::find(locked.begin(), locked.end(), controlId) != locked.end()) return !Calibrating();
    return enabled_.count(controlId) != 0;
}

bool CalibrationCycle::Open() {
    ApplyDisableSet();
    enabled_.erase(IDC_STOP);
    SelectView(AdjustView::Circuit);
    return false;
}

void CalibrationCycle::ApplyDisableSet() {
    for (int id : kDisableSet) enabled_.erase(id);
}

void CalibrationCycle::ApplyEnableSet() {
    for (int id : kEnableSet) enabled_.insert(id);
    if (view_ == AdjustView::Circuit) enabled_.insert(IDC_ANGLE_CAL);
    GuardEmptyList();
}

// With no circuit listed, the circuit view's requests would go to register 65534.
void CalibrationCycle::GuardEmptyList() {
    if (view_ != AdjustView::Circuit || !circuits_.empty()) return;
    for (int id : kCircuitActions) enabled_.erase(id);
}

void CalibrationCycle::SelectView(AdjustView view) {
    view_ = view;
    AdjustTable::Build(cells_, view_);
    steps_ = StepChoice{};
}

void CalibrationCycle::OnIncomingLine() {
    if (running_) OnStop();
    SelectView(AdjustView::IncomingLine);
    ApplyEnableSet();
    enabled_.erase(IDC_ANGLE_CAL);
}

void CalibrationCycle::OnOutgoingLine() {
    if (running_) OnStop();
    SelectView(AdjustView::Circuit);
    GuardEmptyList();
}

int CalibrationCycle::Circuit() const {
    return selected_ >= 0 && selected_ < static_cast<int>(circuits_.size())
               ? circuits_[static_cast<std::size_t>(selected_)]
               : 0;
}

bool CalibrationCycle::SelectIndex(int index) {
    if (index < 0 || index >= static_cast<int>(circuits_.size())) return false;
    if (index == selected_) return true;
    if (Calibrating()) return false;
    selected_ = index;
    // The reply waiting is the old circuit's: a meter test starts over on the new one.
    if (running_ && view_ == AdjustView::Circuit) OnStartRun(AdjustMode::Test);
    return true;
}

bool CalibrationCycle::SelectCircuit(int circuit) {
    for (std::size_t k = 0; k < circuits_.size(); ++k)
        if (circuits_[k] == circuit) return SelectIndex(static_cast<int>(k));
    return false;
}

void CalibrationCycle::Warn(const char* text) {
    sink_.Show(text, kWarning, MsgIcon::Stop, MsgButtons::Ok);
}

bool CalibrationCycle::StopWith(const char* text) {
    KillTimer();
    Warn(text);
    ApplyEnableSet();
    return false;
}

bool CalibrationCycle::OnReadCtModules() {
    // Its requests would take the place of a running run's reply.
    if (running_) KillTimer();
    ApplyDisableSet();
    circuits_.clear();
    selected_ = 0;
    const auto probe = session_.ReadRegisters(503, 1, kCtWaitMs);
    clock().sleep(kCtWaitMs);
    if (!probe) {
        Warn(kCannotRead);
        return false;
    }
    std::uint32_t excluded = 0;
    if (const auto bits = session_.ReadRegisters(373, 2, kCtWaitMs))
        excluded = static_cast<std::uint32_t>((*bits)[0] & 0xFFFF) |
                   (static_cast<std::uint32_t>((*bits)[1] & 0x3FFF) << 16);
    clock().sleep(kCtWaitMs);
    const auto present = session_.ReadRegisters(376, 30, kCtWaitMs);
    clock().sleep(kCtWaitMs);
    if (present) {
        for (int n = 1; n <= 30; ++n)
            if ((*present)[static_cast<std::size_t>(n - 1)] != 0 && (excluded & (1u << (n - 1))) == 0)
                circuits_.push_back(n);
    }
    selected_ = 0;
    ApplyEnableSet();
    return true;
}

bool CalibrationCycle::StandardsUsable(AdjustMode mode, const StandardValues& s) {
    if (view_ == AdjustView::IncomingLine) {
        if (s.ua == 0.0f || s.ub == 0.0f || s.uc == 0.0f) return StopWith(kStandardZero);
        return true;
    }
    if (ctRatio_ == 0) return StopWith(kCtRatioZero);
    if (s.current == 0.0f || s.active == 0.0f || (mode == AdjustMode::Angle && s.reactive == 0.0f))
        return StopWith(kStandardZero);
    return true;
}

void CalibrationCycle::SendReadRequest() {
    if (view_ == AdjustView::Circuit)
        session_.SendReadRegisters(AdjustFormulas::CircuitStart(runCircuit_), 12);
    else
        session_.SendReadRegisters(0, 10);
}

void CalibrationCycle::SetTimer() {
    running_ = true;
    ++timerStarts_;
    nextTick_ = clock().now() + Ms(kTimerMs);
}

void CalibrationCycle::WaitForTick() {
    const Clock::Micros now = clock().now();
    if (nextTick_ > now) clock().sleepFor(nextTick_ - now);
}

void CalibrationCycle::ResetSums() {
    count_ = 0;
    sum0_ = sum1_ = sum2_ = 0;
}

bool CalibrationCycle::OnStartRun(AdjustMode mode) {
    KillTimer();
    ApplyDisableSet();
    mode_ = mode;
    if (mode != AdjustMode::Test) ResetSums();
    const bool noCircuit = view_ == AdjustView::Circuit && Circuit() == 0;
    if (noCircuit || (mode == AdjustMode::Angle && view_ != AdjustView::Circuit)) {
        ApplyEnableSet();
        return false;
    }
    runCircuit_ = Circuit();
    const StandardValues standard = Standard();
    if (mode != AdjustMode::Test && !StandardsUsable(mode, standard)) return false;
    if (follower_) follower_(standard, steps_.powerFactor);
    SendReadRequest();
    clock().sleep(mode == AdjustMode::Test ? kTestStartWaitMs : kCalStartWaitMs);
    SetTimer();
    return true;
}

void CalibrationCycle::OnStop() {
    KillTimer();
    ApplyEnableSet();
}

bool CalibrationCycle::Tick() {
    if (!running_) return false;
    if (mode_ == AdjustMode::Meter && steps_.powerFactor != AdjustFormulas::kPfOne)
        return StopWith(kPfNotOne);
    if (mode_ == AdjustMode::Angle && steps_.powerFactor != AdjustFormulas::kPfHalfL)
        return StopWith(kPfNotHalfL);
    const auto regs = session_.CollectRegisters(ReadCount());
    if (!regs) return StopWith(kCannotReadInTick);

    float r0 = 0;
    float r1 = 0;
    float r2 = 0;
    const auto shown = [this](int row) {
        return AdjustTable::LeadingFloat(cells_.Text(row, AdjustTable::kMeterCol));
    };
    if (view_ == AdjustView::Circuit) {
        const CircuitReading r = AdjustFormulas::DecodeCircuit(*regs);
        AdjustTable::FillMeter(cells_, r);
        r0 = r.current;
        r1 = r.active;
        r2 = r.reactive;
        const bool none = shown(1) == 0.0f && shown(2) == 0.0f && shown(3) == 0.0f && shown(4) == 0.0f;
        if (none && mode_ != AdjustMode::Test) return StopWith(kNoSignal);
    } else {
        const LineReading r = AdjustFormulas::DecodeLine(*regs);
        AdjustTable::FillMeter(cells_, r);
        r0 = r.ua;
        r1 = r.ub;
        r2 = r.uc;
        if (shown(1) == 0.0f && shown(2) == 0.0f && shown(3) == 0.0f) return StopWith(kNoSignal);
    }
    AdjustTable::FillStandard(cells_, view_, Standard());
    AdjustTable::Evaluate(cells_, view_);

    if (mode_ != AdjustMode::Test) {
        sum0_ += r0;
        sum1_ += r1;
        sum2_ += r2;
        count_ += 1.0f;
        if (count_ >= static_cast<float>(kReadings)) {
            KillTimer();
            sum0_ /= count_;
            sum1_ /= count_;
            sum2_ /= count_;
            return mode_ == AdjustMode::Meter ? FinishMeter() : FinishAngle();
        }
    }
    // The run's last reading (kvt40ctl): nothing more is asked for.
    if (!SendsNext()) return true;
    SendReadRequest();
    clock().sleep(kTickWaitMs);
    nextTick_ += Ms(kTimerMs);
    if (nextTick_ < clock().now()) nextTick_ = clock().now();
    return true;
}

bool CalibrationCycle::SendBlock(const CalibrationBlock& block) {
    if (!session_.WriteRegisters(AdjustFormulas::kBlockRegister, block, 0)) return StopWith(kCannotRead);
    return true;
}

bool CalibrationCycle::FinishMeter() {
    const StandardValues s = Standard();
    if (view_ == AdjustView::IncomingLine) {
        const std::array<float, 3> averages{sum0_, sum1_, sum2_};
        const std::array<float, 3> standards{s.ua, s.ub, s.uc};
        for (std::size_t k = 0; k < 3; ++k) {
            if (standards[k] == 0.0f) return StopWith(kStandardZero);
            if (averages[k] == 0.0f) return StopWith(kAverageZero);
        }
        const auto old = session_.ReadRegisters(AdjustFormulas::kVoltageGainRegister, 3, kGainReadWaitMs);
        if (!old) return StopWith(kCannotRead);
        std::array<std::int32_t, 3> gains{};
        for (std::size_t k = 0; k < 3; ++k) {
            const auto g = AdjustFormulas::VoltageGain((*old)[k], averages[k], standards[k]);
            if (!g) return StopWith(kOutOfRange);
            gains[k] = *g;
        }
        if (!session_.WriteRegisters(AdjustFormulas::kVoltageGainRegister, gains, kVoltageWriteWaitMs))
            return StopWith(kCannotRead);
    } else {
        if (ctRatio_ == 0) return StopWith(kCtRatioZero);
        if (s.current == 0.0f || s.active == 0.0f) return StopWith(kStandardZero);
        if (sum0_ == 0.0f || sum1_ == 0.0f) return StopWith(kAverageZero);
        const auto power = AdjustFormulas::PowerGainCorrection(sum1_, s.active);
        const auto gain = AdjustFormulas::CurrentGain(sum0_, s.current);
        if (!power || !gain) return StopWith(kOutOfRange);
        clock().sleep(kFinishWaitMs);
        memory_.Keep(session_.Link(), runCircuit_, {*gain, *power});
        clock().sleep(kFinishWaitMs);
        if (!SendBlock(AdjustFormulas::Block(runCircuit_, *gain, *power, 0, 0))) return false;
        clock().sleep(kMeterBlockWaitMs);
    }
    Completed();
    return running_;
}

bool CalibrationCycle::FinishAngle() {
    const StandardValues s = Standard();
    if (ctRatio_ == 0) return StopWith(kCtRatioZero);
    if (s.active == 0.0f || s.reactive == 0.0f) return StopWith(kStandardZero);
    if (sum1_ == 0.0f || sum2_ == 0.0f) return StopWith(kAverageZero);
    const auto phase = AdjustFormulas::PhaseCorrection(sum1_, s.active);
    const auto reactive = AdjustFormulas::ReactiveCorrection(sum2_, s.reactive);
    if (!phase || !reactive) return StopWith(kOutOfRange);
    if (!session_.ReadRegisters(AdjustFormulas::kVoltageGainRegister, 3, kGainReadWaitMs))
        return StopWith(kCannotRead);
    clock().sleep(kFinishWaitMs);
    // Gains found for another circuit or module (or none yet) are not this circuit's: send the neutral ones.
    const KeptGains kept = memory_.Find(session_.Link(), runCircuit_)
                               .value_or(KeptGains{AdjustFormulas::kDefaultCurrentGain, 0});
    if (!SendBlock(
            AdjustFormulas::Block(runCircuit_, kept.currentGain, kept.powerCorrection, *phase, *reactive)))
        return false;
    clock().sleep(kAngleBlockWaitMs);
    Completed();
    return running_;
}

void CalibrationCycle::Completed() {
    sink_.Show(kCalibrationDone, kNotice, MsgIcon::Information, MsgButtons::Ok);
    ApplyEnableSet();
    ResetSums();
    OnStartRun(AdjustMode::Test);
}

std::string CalibrationCycle::RestoreQuestion() const {
    if (view_ == AdjustView::IncomingLine)
        return "系数恢复将把A、B、C三相电压增益恢复为默认值16500，现有的电压校准将丢失。是否继续？";
    return "系数恢复将把回路" + std::to_string(Circuit()) +
           "的电流增益、功率、相位和无功校正恢复为默认值，该回路现有的校准将丢失。是否继续？";
}

bool CalibrationCycle::OnRestoreDefaults() {
    const int n = Circuit();
    if (view_ == AdjustView::Circuit && n == 0) return false;
    // The module's calibration cannot be read back: erase it only when the technician says so.
    if (sink_.Show(RestoreQuestion(), kNotice, MsgIcon::Question, MsgButtons::YesNo) != MsgResult::Yes)
        return false;
    ApplyDisableSet();
    bool sent = false;
    if (view_ == AdjustView::IncomingLine) {
        const std::array<std::int32_t, 3> defaults{AdjustFormulas::kDefaultVoltageGain,
                                                   AdjustFormulas::kDefaultVoltageGain,
                                                   AdjustFormulas::kDefaultVoltageGain};
        sent = session_.WriteRegisters(AdjustFormulas::kVoltageGainRegister, defaults, kVoltageWriteWaitMs);
    } else {
        sent = session_.WriteRegisters(AdjustFormulas::kBlockRegister, AdjustFormulas::RestoreBlock(n),
                                       kRestoreCircuitWaitMs);
        // The circuit is back at its defaults: what was found for it before no longer holds.
        memory_.Forget(session_.Link(), n);
    }
    if (!sent) return StopWith(kCannotRead);
    sink_.Show(kDefaultsDone, kNotice, MsgIcon::Question, MsgButtons::Ok);
    ApplyEnableSet();
    return OnStartRun(AdjustMode::Test);
}
