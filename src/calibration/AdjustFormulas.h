#pragma once
// The calibration's arithmetic: standard values from the source and the steps, the decoding
// of the module's replies, and the coefficients a calibration writes. Single-precision
// floats where the form holds floats, truncation toward zero, and a coefficient that does
// not fit its field refused rather than cut or written with the wrong sign.

#include <array>
#include <cstdint>
#include <optional>

#include "calibration/AdjustTable.h"
#include "link/ModbusSession.h"

// The values typed into the standard-source dialog (volts, amperes).
struct SourceSettings {
    float ua = 220.0f;
    float ub = 220.0f;
    float uc = 220.0f;
    float ia = 5.0f;
    float ib = 5.0f;
    float ic = 5.0f;
};

// The checked radio buttons, as indexes: voltage "20%".."120%" (0..4), current "5%".."120%"
// (0..5), power factor "1.0", "0.866L", "0.5L", "0.866C", "0.5C" (0..4).
struct StepChoice {
    int voltage = 3;
    int current = 4;
    int powerFactor = 0;
};

using CalibrationBlock = std::array<std::int32_t, 11>;

class AdjustFormulas {
public:
    static constexpr int kDefaultCurrentGain = 6378;
    static constexpr int kDefaultVoltageGain = 16500;
    static constexpr int kBlockRegister = 9257;
    static constexpr int kVoltageGainRegister = 5000;
    static constexpr int kPfOne = 0;
    static constexpr int kPfHalfL = 2;

    static constexpr std::array<float, 5> kVoltageSteps{0.2f, 0.5f, 0.8f, 1.0f, 1.2f};
    static constexpr std::array<float, 6> kCurrentSteps{0.05f, 0.2f, 0.5f, 0.8f, 1.0f, 1.2f};
    static constexpr std::array<const char*, 5> kVoltageStepTexts{"20%", "50%", "80%", "100%", "120%"};
    static constexpr std::array<const char*, 6> kCurrentStepTexts{"5%", "20%", "50%", "80%", "100%", "120%"};
    static constexpr std::array<const char*, 5> kPfStepTexts{"1.0", "0.866L", "0.5L", "0.866C", "0.5C"};

    // 90 degrees minus the phase angle of each power-factor step, in radians, as stored
    // floats: arccos of 0.0, 0.5, 0.866, -0.5, -0.866.
    static float Angle(int pfStep);

    // Ua' = v Ua ..., I' = CT ratio x Ia x i, P' = sin(a) I' Ua', Q' = cos(a) I' Ua',
    // power factor' = sin(a), frequency' = 50 Hz. Steps outside their lists count as 100 %
    // and "1.0".
    static StandardValues Standard(const SourceSettings& source, StepChoice steps, int ctRatio);

    // Registers 12n-2 .. 12n+9 (at least 8 values) and 0..9 (at least 3).
    static CircuitReading DecodeCircuit(const RegisterValues& regs);
    static LineReading DecodeLine(const RegisterValues& regs);

    // First register of circuit n's reading (n = 1 gives 10, n = 30 gives 358).
    static int CircuitStart(int circuit) { return 12 * circuit - 2; }

    // Each returns nothing when the result is not a number or does not fit its field:
    // gains 1..65535; the corrections are signed as the module reads them, a positive one
    // in the field's lower half (power and reactive 0..32767, phase 0..127) and a negative
    // one in its upper half (32768..65535, phase 128..255). Such a result means readings
    // far from the standard: the source is not what the tool was told. Averages and
    // standards must not be 0 (the caller refuses that).
    // truncate(6378 / (average I / I')).
    static std::optional<int> CurrentGain(float averageI, float standardI);
    // c = -e / (1 + e), e = (average P - P') / P'; truncate(c x 32768), or for c < 0
    // truncate(c x 32768 + 65535).
    static std::optional<int> PowerGainCorrection(float averageP, float standardP);
    // d = arcsin(-e / sqrt 3) in degrees; truncate(d x 50), or for d < 0 truncate(d x 50 + 256).
    static std::optional<int> PhaseCorrection(float averageP, float standardP);
    // r = f x 0.5774, f = (average Q - Q') / Q'; truncate(r x 32768), or for r < 0
    // truncate(r x 32768 + 65536).
    static std::optional<int> ReactiveCorrection(float averageQ, float standardQ);
    // truncate(old gain / (average U / U')).
    static std::optional<int> VoltageGain(int oldGain, float averageU, float standardU);

    // 999, n-1, 1000, gain, power, phase, 0, reactive, 7501, 0, 0.
    static CalibrationBlock Block(int circuit, int gain, int power, int phase, int reactive);
    // The defaults: 999, n-1, 1000, 6378, 0, 0, 0, 0, 7501, 0, 0.
    static CalibrationBlock RestoreBlock(int circuit) { return Block(circuit, kDefaultCurrentGain, 0, 0, 0); }
};
