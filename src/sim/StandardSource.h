#pragma once
// The standard power source of the virtual test bench: what it feeds the module's voltage
// inputs and every circuit's current input. Default 220 V on each phase, 5 A, power factor
// 1.0.
//
//     StandardSource s;
//     s.SetPowerFactor("0.5L");       // current 60 degrees behind the voltage
//     module.Bench().Connect(s);

#include <array>
#include <optional>
#include <string>
#include <string_view>

struct StandardSource {
    std::array<double, 3> volts{220.0, 220.0, 220.0};  // phases A, B, C
    double amps = 5.0;                                 // through every circuit
    // 90 degrees minus the phase angle of the current, in radians: P = U I sin(a),
    // Q = U I cos(a), as the tool computes its standard values.
    double angle = 1.5707963267948966;

    // "1.0", "0.866L", "0.5L", "0.866C", "0.5C"; false for any other text.
    bool SetPowerFactor(std::string_view step);
    // The same steps by index 0..4.
    bool SetPowerFactorStep(int step);
    // The source of these phase voltages and this current at step pfStep (1.0 when the
    // step is outside 0..4).
    static StandardSource Of(const std::array<double, 3>& volts, double amps, int pfStep);
    static const std::array<const char*, 5>& PowerFactorSteps();
};
