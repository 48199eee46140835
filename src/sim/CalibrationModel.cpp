#include "sim/CalibrationModel.h"

#include <cmath>
#include <numbers>

namespace {

// A fixed value in [0, 1) for (address, key).
double Unit(int address, int key) {
    std::uint64_t x = static_cast<std::uint64_t>(address) * 0x9E3779B97F4A7C15u +
                      static_cast<std::uint64_t>(key) * 0xBF58476D1CE4E5B9u;
    x ^= x >> 31;
    x *= 0x94D049BB133111EBu;
    x ^= x >> 29;
    return static_cast<double>(x % 1000000) / 1e6;
}

// A signed error whose size lies in [low, high].
double Error(int address, int key, double low, double high) {
    const double size = low + (high - low) * Unit(address, key);
    return Unit(address, key + 7777) < 0.5 ? -size : size;
}

constexpr double kDegree = std::numbers::pi / 180.0;

std::int32_t Round(double v) {
    return static_cast<std::int32_t>(std::lround(v));
}

}  // namespace

CalibrationModel::CalibrationModel(int address) {
    for (int n = 1; n <= kCircuits; ++n) {
        CircuitState& c = circuits_[static_cast<std::size_t>(n - 1)];
        // Current beyond its 0.5 % class, so an uncalibrated circuit shows NG at once.
        c.currentError = Error(address, 100 + n, 0.006, 0.009);
        c.activeError = Error(address, 200 + n, 0.004, 0.009);
        c.reactiveError = Error(address, 300 + n, 0.003, 0.009);
        c.phaseError = Error(address, 400 + n, 0.25, 0.45);
    }
    for (int p = 0; p < 3; ++p)
        voltageError_[static_cast<std::size_t>(p)] = Error(address, 500 + p, 0.006, 0.009);
}

void CalibrationModel::Connect(const StandardSource& source) {
    source_ = source;
    onBench_ = true;
}

double CalibrationModel::PhaseAngle(int circuit) const {
    const CircuitState& c = Circuit(circuit);
    return std::numbers::pi / 2 - source_.angle + (c.phaseError - c.phaseCorrection) * kDegree;
}

std::int32_t CalibrationModel::VoltageCentivolts(int phase, int gainRegister, double noise) const {
    const double u = source_.volts[static_cast<std::size_t>(phase)] *
                     (1.0 + voltageError_[static_cast<std::size_t>(phase)]) * gainRegister /
                     kNeutralVoltageGain * (1.0 + 0.0002 * noise);
    return Round(u * 100.0);
}

std::int32_t CalibrationModel::CurrentMa(int circuit, double noise) const {
    const CircuitState& c = Circuit(circuit);
    return Round(source_.amps * (1.0 + c.currentError) * c.currentFactor * (1.0 + 0.0003 * noise) * 1000.0);
}

std::int32_t CalibrationModel::ActiveDeciwatts(int circuit, double noise) const {
    const CircuitState& c = Circuit(circuit);
    const double s = source_.volts[static_cast<std::size_t>((circuit - 1) % 3)] * source_.amps;
    return Round(s * std::cos(PhaseAngle(circuit)) * (1.0 + c.activeError) * c.activeFactor *
                 (1.0 + 0.0003 * noise) * 10.0);
}

std::int32_t CalibrationModel::ReactiveDecivars(int circuit, double noise) const {
    const CircuitState& c = Circuit(circuit);
    const double s = source_.volts[static_cast<std::size_t>((circuit - 1) % 3)] * source_.amps;
    return Round(s * std::sin(PhaseAngle(circuit)) * (1.0 + c.reactiveError) * c.reactiveFactor *
                 (1.0 + 0.0005 * noise) * 10.0);
}

void CalibrationModel::ResetCircuit(int circuit) {
    if (circuit < 1 || circuit > kCircuits) return;
    CircuitState& c = circuits_[static_cast<std::size_t>(circuit - 1)];
    c.currentFactor = c.activeFactor = c.reactiveFactor = 1.0;
    c.phaseCorrection = 0.0;
    c.lastGains.reset();
}

bool CalibrationModel::ApplyBlock(const std::array<std::uint16_t, 11>& b) {
    if (b[0] != 999 || b[2] != 1000 || b[8] != 7501 || b[1] >= kCircuits) return false;
    // The phase correction is an 8-bit field: a value beyond it is no correction at all.
    if (b[5] > 255) return false;
    const int circuit = b[1] + 1;
    const std::uint16_t gain = b[3];
    const std::uint16_t power = b[4];
    const std::uint16_t phase = b[5];
    const std::uint16_t reactive = b[7];
    if (gain == kNeutralGain && power == 0 && phase == 0 && b[6] == 0 && reactive == 0) {
        ResetCircuit(circuit);
        return true;
    }
    CircuitState& c = circuits_[static_cast<std::size_t>(circuit - 1)];
    const std::array<std::uint16_t, 2> gains{gain, power};
    if (c.lastGains != gains) {
        c.currentFactor *= static_cast<double>(gain) / kNeutralGain;
        // Power correction: c x 32768 for c >= 0, c x 32768 + 65535 below.
        const double pc = power < 32768 ? power / 32768.0 : (power - 65535.0) / 32768.0;
        c.activeFactor *= 1.0 + pc;
        c.lastGains = gains;
    }
    // Phase correction in 0.02 degrees, signed 8 bits: 128..255 are below zero (256 added).
    c.phaseCorrection += (phase >= 128 ? phase - 256.0 : static_cast<double>(phase)) / 50.0;
    // Reactive correction: r x 32768, 65536 added below zero; r is the error's share x 0.5774.
    const double r = reactive < 32768 ? reactive / 32768.0 : (reactive - 65536.0) / 32768.0;
    c.reactiveFactor /= 1.0 + r / 0.5774;
    return true;
}
