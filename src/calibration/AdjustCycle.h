#pragma once
// The rules of the calibration form (view 164) without widgets: the views, the circuit
// list, the runs in modes 0, 1 and 2 on the 800 ms timer with their waits, the comparison
// table, the calibration itself and the enabled state of the action buttons. The form
// mirrors this state into its widgets; kvt40ctl calibrate drives the same calls.
//
// A meter calibration of circuit 3 from a terminal:
//     AdjustCycle cycle(link, clock, sink);
//     cycle.Open();
//     cycle.OnReadCtModules();              // builds the circuit list (1..30 present)
//     cycle.SelectCircuit(3);
//     cycle.OnStartRun(AdjustMode::Meter);  // first request, 100 ms, timer on
//     while (cycle.Running()) {
//         cycle.WaitForTick();              // 800 ms after the timer was set or last fired
//         cycle.Tick();                     // ten readings, the block, "校准完成!", mode 0
//         if (cycle.Mode() == AdjustMode::Test && enough) cycle.OnStop();
//     }
//
// Every message goes through the sink with the form's texts. Changing the view stops a
// run, so a calibration never finishes with the readings of the other view.

#include <functional>
#include <set>
#include <vector>

#include "calibration/AdjustFormulas.h"
#include "calibration/AdjustIds.h"
#include "link/MessageSink.h"
#include "widgets/PollingCycle.h"

enum class AdjustMode { Test = 0, Meter = 1, Angle = 2 };

// What the last calibrations found, kept for the whole program run (every instance of the
// form shares it). The gain and power correction belong to the circuit they were found for.
struct LastCalibration {
    int circuit = 0;  // 0: no meter calibration in this run (or its circuit was restored)
    int currentGain = 0;
    int powerCorrection = 0;
    int phaseCorrection = 0;
    int reactiveCorrection = 0;
};

class AdjustCycle final : public PollingCycle {
public:
    static constexpr int kTimerMs = 800;
    static constexpr int kReadings = 10;
    static constexpr int kMaxCtRatio = 100000;
    // Waits, in ms, as the form keeps them.
    static constexpr int kCtWaitMs = 100;
    static constexpr int kTestStartWaitMs = 500;
    static constexpr int kCalStartWaitMs = 100;
    static constexpr int kTickWaitMs = 500;
    static constexpr int kGainReadWaitMs = 200;
    static constexpr int kFinishWaitMs = 200;
    static constexpr int kMeterBlockWaitMs = 500;
    static constexpr int kAngleBlockWaitMs = 1000;
    static constexpr int kVoltageWriteWaitMs = 200;
    static constexpr int kRestoreCircuitWaitMs = 3000;

    // The bench is told the standard values and the power-factor step each run starts with
    // (the virtual module sets its source to them; a real bench has no follower).
    using SourceFollower = std::function<void(const StandardValues& standard, int pfStep)>;

    AdjustCycle(LinkState& link, Clock& clock, MessageSink& sink);

    // Showing the form: the circuit view's table, the action buttons and 停止 disabled, the
    // steps at 100 %, 100 %, 1.0. No request; false (the timer starts with a run).
    bool Open() override;
    // One shot of timer 1: true while the timer stays on (a mode-0 run continues, or a
    // calibration needs more readings or has finished and goes on as a meter test).
    bool Tick() override;
    int PollMs() const override { return kTimerMs; }

    // 进线 and 出线: stop a run, rebuild the table, steps back to 100 %, 100 %, 1.0.
    void OnIncomingLine();
    void OnOutgoingLine();
    // 读取CT模块: the link check at 503, exclusions at 373/374, presence at 376..405.
    bool OnReadCtModules();
    // 仪表测试, 仪表校准, 角度校准. False when the run was refused (message shown).
    bool OnStartRun(AdjustMode mode);
    // 停止 (also before the dead-zone dialog).
    void OnStop();
    // 系数恢复: the defaults of the circuit or of the three voltage gains, then a meter test.
    bool OnRestoreDefaults();

    AdjustView View() const { return view_; }
    AdjustMode Mode() const { return mode_; }
    // Circuits offered (ascending) and the selected one (0 while the list is empty).
    const std::vector<int>& Circuits() const { return circuits_; }
    int Circuit() const;
    int SelectedIndex() const { return selected_; }
    void SelectIndex(int index);
    // Selects the entry of circuit n; false when n is not in the list.
    bool SelectCircuit(int circuit);

    // The control values (CT ratio, steps) as the form read them back.
    int CtRatio() const { return ctRatio_; }
    void SetCtRatio(int ratio) { ctRatio_ = ratio; }
    StepChoice Steps() const { return steps_; }
    void SetSteps(StepChoice steps) { steps_ = steps; }
    const SourceSettings& Source() const { return source_; }
    void SetSource(const SourceSettings& s) { source_ = s; }
    StandardValues Standard() const { return AdjustFormulas::Standard(source_, steps_, ctRatio_); }
    void SetSourceFollower(SourceFollower f) { follower_ = std::move(f); }

    // Enabled state of the action buttons 1025, 1032, 1033, 1038, 1074, 1037, 1034, 1069.
    bool Enabled(int controlId) const { return enabled_.count(controlId) != 0; }
    static const std::vector<int>& ActionButtons();

    // Timer 1: on, how often it was set (a new run restarts its period), and when it fires next.
    bool Running() const { return running_; }
    int TimerStarts() const { return timerStarts_; }
    Clock::Micros NextTickAt() const { return nextTick_; }
    // Sleeps on the clock until the timer's next shot.
    void WaitForTick();
    // Readings summed so far in the running calibration.
    int SampleCount() const { return static_cast<int>(count_); }

    static LastCalibration& Last();
    // Back to the start of the program run (tests).
    static void ResetLast();

private:
    void ApplyDisableSet();
    void ApplyEnableSet();
    void GuardEmptyList();
    void KillTimer() { running_ = false; }
    void SetTimer();
    void SendReadRequest();
    int ReadCount() const { return view_ == AdjustView::Circuit ? 12 : 10; }
    void SelectView(AdjustView view);
    void Warn(const char* text);
    // Ends a tick or a finish with a message: timer off, the enable set.
    bool StopWith(const char* text);
    bool StandardsUsable(AdjustMode mode, const StandardValues& s);
    bool FinishMeter();
    bool FinishAngle();
    // The calibration block to 9257, its echo left unread; false (message shown) when it could not be sent.
    bool SendBlock(const CalibrationBlock& block);
    Clock& clock() const { return session_.TheClock(); }
    void Completed();
    void ResetSums();

    MessageSink& sink_;
    AdjustView view_ = AdjustView::Circuit;
    AdjustMode mode_ = AdjustMode::Test;
    std::vector<int> circuits_;
    int selected_ = 0;
    int ctRatio_ = 1;
    StepChoice steps_;
    SourceSettings source_;
    std::set<int> enabled_;
    bool running_ = false;
    int timerStarts_ = 0;
    Clock::Micros nextTick_{0};
    float count_ = 0;
    float sum0_ = 0;  // Ua, or I
    float sum1_ = 0;  // Ub, or P
    float sum2_ = 0;  // Uc, or Q
    SourceFollower follower_;
};
