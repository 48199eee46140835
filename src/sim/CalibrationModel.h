#pragma once
// The virtual module on a test bench: the standard source it is connected to, its
// intrinsic errors (a fraction of a percent per circuit in current, active and reactive
// power, a few tenths of a degree in phase, and per phase in voltage) and its calibration
// state. Off the bench the module shows its ordinary load and none of this applies.
//
// Calibration blocks written at 9257 (999, n-1, 1000, gain, power, phase, 0, reactive,
// 7501, 0, 0) act on circuit n:
//   - the restore block (gain 6378 and zeros) puts the circuit back at its defaults;
//   - any other block composes with the present state: the current reads gain/6378 times
//     what it did, the active power (1 + c) times, the phase turns back by the phase
//     correction and the reactive power loses the reactive correction's share. A gain and
//     power correction equal to the ones the circuit took last are the same values sent
//     again (an angle calibration repeats them) and act once.
// The corrections are signed fields: power and reactive 0..32767 up, 32768..65535 down
// (65535 and 65536 added below zero), phase 0..127 up and 128..255 down; a phase above 255
// makes the block invalid. Voltages follow the gains at 5000..5002 (16500 is neutral).
//
// Not thread-safe: the owning module is guarded by its bus.

#include <array>
#include <cstdint>
#include <optional>

#include "sim/StandardSource.h"

class CalibrationModel {
public:
    static constexpr int kCircuits = 30;
    static constexpr int kNeutralGain = 6378;
    static constexpr int kNeutralVoltageGain = 16500;

    // The intrinsic errors follow from the module address, the same on every run.
    explicit CalibrationModel(int address);

    bool OnBench() const { return onBench_; }
    // Connects the module to the source (or changes what the source delivers).
    void Connect(const StandardSource& source);
    void Disconnect() { onBench_ = false; }
    const StandardSource& Source() const { return source_; }

    // Readings in register units; noise is -1..1 (the module's own, per reading).
    std::int32_t VoltageCentivolts(int phase, int gainRegister, double noise) const;  // 0.01 V
    std::int32_t CurrentMa(int circuit, double noise) const;
    std::int32_t ActiveDeciwatts(int circuit, double noise) const;   // 0.1 W
    std::int32_t ReactiveDecivars(int circuit, double noise) const;  // 0.1 var

    // A block written at 9257; false (nothing changes) when it names no circuit 1..30 or is
    // not laid out as a calibration block.
    bool ApplyBlock(const std::array<std::uint16_t, 11>& block);
    void ResetCircuit(int circuit);

    // Relative errors of an uncalibrated module (0.006 is 0.6 %), phase error in degrees.
    double CurrentError(int circuit) const { return Circuit(circuit).currentError; }
    double ActiveError(int circuit) const { return Circuit(circuit).activeError; }
    double ReactiveError(int circuit) const { return Circuit(circuit).reactiveError; }
    double PhaseErrorDegrees(int circuit) const { return Circuit(circuit).phaseError; }
    double VoltageError(int phase) const { return voltageError_[static_cast<std::size_t>(phase)]; }

private:
    struct CircuitState {
        double currentError = 0;
        double activeError = 0;
        double reactiveError = 0;
        double phaseError = 0;  // degrees
        double currentFactor = 1;
        double activeFactor = 1;
        double reactiveFactor = 1;
        double phaseCorrection = 0;  // degrees, subtracted
        std::optional<std::array<std::uint16_t, 2>> lastGains;
    };
    const CircuitState& Circuit(int circuit) const {
        return circuits_[static_cast<std::size_t>(circuit - 1)];
    }
    double PhaseAngle(int circuit) const;  // the current's angle behind the voltage as measured, radians

    bool onBench_ = false;
    StandardSource source_;
    std::array<CircuitState, kCircuits> circuits_{};
    std::array<double, 3> voltageError_{};
};
