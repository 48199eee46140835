#pragma once
// The rules of the calibration form (view 164) without widgets: the views, the circuit
// list, the runs in modes 0, 1 and 2 on the 800 ms timer with their waits, the comparison
// table, the calibration itself and the enabled state of the action buttons. The form
// mirrors this state into its widgets; kvt40ctl calibrate drives the same calls.
//
// A meter calibration of circuit 3 from a terminal:
//     CalibrationCycle cycle(link, clock, sink, run.calibration);
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
// run, so a calibration never finishes with the readings of the other view. While a
// calibration runs, what it reads and where it writes stay as they were at its start:
// the circuit, the CT ratio and the steps are locked (their controls disabled), and the
// block goes to the circuit that was read.

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "calibration/AdjustFormulas.h"
#include "calibration/AdjustIds.h"
#include "calibration/CalibrationMemory.h"
#include "formkit/PollingCycle.h"
#include "link/MessageSink.h"

enum class AdjustMode { Test = 0, Meter = 1, Angle = 2 };

class CalibrationCycle final : public PollingCycle {
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

    // `memory` keeps the gains for angle calibrations across every instance of the form for
    // the run (each connect forgets them): the run's, handed in.
    CalibrationCycle(LinkState& link, Clock& clock, MessageSink& sink, CalibrationMemory& memory);

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
    // 系数恢复: asks first (RestoreQuestion, Yes/No); on Yes the defaults of the circuit or
    // of the three voltage gains, then a meter test. False when refused or not confirmed
    // (nothing sent).
    bool OnRestoreDefaults();
    // The question naming what 系数恢复 erases in the current view.
    std::string RestoreQuestion() const;

    AdjustView View() const { return view_; }
    AdjustMode Mode() const { return mode_; }
    // Circuits offered (ascending) and the selected one (0 while the list is empty).
    const std::vector<int>& Circuits() const { return circuits_; }
    int Circuit() const;
    int SelectedIndex() const { return selected_; }
    // Another entry: refused (false) while a calibration runs; a meter test goes on with
    // the new circuit from a fresh request, so no reply of the old one is shown as its.
    bool SelectIndex(int index);
    // Selects the entry of circuit n; false when n is not in the list or a calibration runs.
    bool SelectCircuit(int circuit);

    // The control values (CT ratio, steps) as the form read them back. A change while a
    // calibration runs is ignored: its averages belong to the standard it started with.
    int CtRatio() const { return ctRatio_; }
    void SetCtRatio(int ratio) {
        if (!Calibrating()) ctRatio_ = ratio;
    }
    StepChoice Steps() const { return steps_; }
    void SetSteps(StepChoice steps) {
        if (!Calibrating()) steps_ = steps;
    }
    // A meter or angle calibration is collecting its readings.
    bool Calibrating() const { return running_ && mode_ != AdjustMode::Test; }
    const SourceSettings& Source() const { return source_; }
    void SetSource(const SourceSettings& s) { source_ = s; }
    StandardValues Standard() const { return AdjustFormulas::Standard(source_, steps_, ctRatio_); }
    void SetSourceFollower(SourceFollower f) { follower_ = std::move(f); }

    // Enabled state of the action buttons 1025, 1032, 1033, 1038, 1074, 1037, 1034, 1069,
    // and of the controls that choose what a run reads (RunSettingControls).
    bool Enabled(int controlId) const;
    static const std::vector<int>& ActionButtons();
    // The circuit list, 读取CT模块, the CT ratio and the step radio buttons: off while a
    // calibration runs.
    static const std::vector<int>& RunSettingControls();

    // Timer 1: on, how often it was set (a new run restarts its period), and when it fires next.
    bool Running() const { return running_; }
    int TimerStarts() const { return timerStarts_; }
    Clock::Micros NextTickAt() const { return nextTick_; }
    // Sleeps on the clock until the timer's next shot.
    void WaitForTick();
    // Readings summed so far in the running calibration.
    int SampleCount() const { return static_cast<int>(count_); }

    CalibrationMemory& Memory() const { return memory_; }
    // The circuit the running (or last) run reads and writes.
    int RunCircuit() const { return runCircuit_; }

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
    Clock& clock() const { return session_.GetClock(); }
    void Completed();
    void ResetSums();

    MessageSink& sink_;
    CalibrationMemory& memory_;
    AdjustView view_ = AdjustView::Circuit;
    AdjustMode mode_ = AdjustMode::Test;
    std::vector<int> circuits_;
    int selected_ = 0;
    int runCircuit_ = 0;
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
