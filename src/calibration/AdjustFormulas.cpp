#include "calibration/AdjustFormulas.h"

#include <cmath>

#include "link/ModbusRtu.h"

namespace {

// Truncation toward zero into a 16-bit register; nothing for NaN, infinities and values
// the register cannot hold.
std::optional<int> Register16(double v, int lowest = 0) {
    if (!std::isfinite(v)) return std::nullopt;
    const double t = std::trunc(v);
    if (t < lowest || t > 65535.0) return std::nullopt;
    return static_cast<int>(t);
}

// A correction the module reads as a signed field: a value of `negative` sign must land in
// the field's upper half (firstNegative..fieldMax), any other in its lower half. A value
// that spills into the other half would be read with the wrong sign.
std::optional<int> SignedField(double v, bool negative, int firstNegative, int fieldMax) {
    if (!std::isfinite(v)) return std::nullopt;
    const double t = std::trunc(v);
    const bool fits = negative ? t >= firstNegative && t <= fieldMax : t >= 0.0 && t < firstNegative;
    if (!fits) return std::nullopt;
    return static_cast<int>(t);
}

}  // namespace

float AdjustFormulas::Angle(int pfStep) {
    static const std::array<float, 5> angles{
        static_cast<float>(std::acos(0.0)), static_cast<float>(std::acos(0.5)),
        static_cast<float>(std::acos(0.866)), static_cast<float>(std::acos(-0.5)),
        static_cast<float>(std::acos(-0.866))};
    return pfStep >= 0 && pfStep < 5 ? angles[static_cast<std::size_t>(pfStep)] : angles[0];
}

StandardValues AdjustFormulas::Standard(const SourceSettings& source, StepChoice steps, int ctRatio) {
    const float v = steps.voltage >= 0 && steps.voltage < 5
                        ? kVoltageSteps[static_cast<std::size_t>(steps.voltage)]
                        : 1.0f;
    const float i = steps.current >= 0 && steps.current < 6
                        ? kCurrentSteps[static_cast<std::size_t>(steps.current)]
                        : 1.0f;
    const double a = Angle(steps.powerFactor);
    StandardValues s;
    s.ua = v * source.ua;
    s.ub = v * source.ub;
    s.uc = v * source.uc;
    s.current = static_cast<float>(ctRatio) * source.ia * i;
    s.active = static_cast<float>(std::sin(a) * s.current * s.ua);
    s.reactive = static_cast<float>(std::cos(a) * s.current * s.ua);
    s.powerFactor = static_cast<float>(std::sin(a));
    s.frequency = 50.0f;
    return s;
}

CircuitReading AdjustFormulas::DecodeCircuit(const RegisterValues& regs) {
    CircuitReading r;
    if (regs.size() < 8) return r;
    r.current = static_cast<float>(regs[0] * 0.001);
    const double p = JoinSigned32(regs[1], regs[2]) * 0.1;
    const double q = JoinSigned32(regs[3], regs[4]) * 0.1;
    r.active = static_cast<float>(p);
    r.reactive = static_cast<float>(q);
    r.powerFactor = p == 0.0 && q == 0.0 ? 0.0f : static_cast<float>(p / std::sqrt(p * p + q * q));
    r.frequency = static_cast<float>(Signed16(regs[7]) * 0.01);
    return r;
}

LineReading AdjustFormulas::DecodeLine(const RegisterValues& regs) {
    LineReading r;
    if (regs.size() < 3) return r;
    r.ua = static_cast<float>(regs[0] * 0.01);
    r.ub = static_cast<float>(regs[1] * 0.01);
    r.uc = static_cast<float>(regs[2] * 0.01);
    return r;
}

std::optional<int> AdjustFormulas::CurrentGain(float averageI, float standardI) {
    const float g = static_cast<float>(kDefaultCurrentGain) / (averageI / standardI);
    return Register16(static_cast<double>(g), 1);
}

std::optional<int> AdjustFormulas::PowerGainCorrection(float averageP, float standardP) {
    const float e = (averageP - standardP) / standardP;
    if (e == 0.0f) return 0;
    const float c = -e / (1.0f + e);
    if (!std::isfinite(c)) return std::nullopt;
    if (c >= 0.0f) return SignedField(static_cast<double>(c * 32768.0f), false, 32768, 65535);
    return SignedField(static_cast<double>(c * 32768.0f + 65535.0f), true, 32768, 65535);
}

std::optional<int> AdjustFormulas::PhaseCorrection(float averageP, float standardP) {
    const float e = (averageP - standardP) / standardP;
    const double d = std::asin(-static_cast<double>(e) / std::sqrt(3.0)) * 57.29578;
    return SignedField(d < 0.0 ? d * 50.0 + 256.0 : d * 50.0, d < 0.0, 128, 255);
}

std::optional<int> AdjustFormulas::ReactiveCorrection(float averageQ, float standardQ) {
    const float f = (averageQ - standardQ) / standardQ;
    const double r = static_cast<double>(f) * 0.5774;
    return SignedField(r < 0.0 ? r * 32768.0 + 65536.0 : r * 32768.0, r < 0.0, 32768, 65535);
}

std::optional<int> AdjustFormulas::VoltageGain(int oldGain, float averageU, float standardU) {
    const float g = static_cast<float>(oldGain) / (averageU / standardU);
    return Register16(static_cast<double>(g), 1);
}

CalibrationBlock AdjustFormulas::Block(int circuit, int gain, int power, int phase, int reactive) {
    return {999, circuit - 1, 1000, gain, power, phase, 0, reactive, 7501, 0, 0};
}
