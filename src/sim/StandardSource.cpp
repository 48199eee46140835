#include "sim/StandardSource.h"

#include <cmath>

namespace {
// The cosines of the tool's angle table, in step order.
constexpr std::array<double, 5> kCosines{0.0, 0.5, 0.866, -0.5, -0.866};
}  // namespace

const std::array<const char*, 5>& StandardSource::PowerFactorSteps() {
    static const std::array<const char*, 5> steps{"1.0", "0.866L", "0.5L", "0.866C", "0.5C"};
    return steps;
}

bool StandardSource::SetPowerFactorStep(int step) {
    if (step < 0 || step >= 5) return false;
    angle = std::acos(kCosines[static_cast<std::size_t>(step)]);
    return true;
}

StandardSource StandardSource::Of(const std::array<double, 3>& volts, double amps, int pfStep) {
    StandardSource s;
    s.volts = volts;
    s.amps = amps;
    if (!s.SetPowerFactorStep(pfStep)) s.SetPowerFactorStep(0);
    return s;
}

bool StandardSource::SetPowerFactor(std::string_view step) {
    const auto& steps = PowerFactorSteps();
    for (std::size_t k = 0; k < steps.size(); ++k)
        if (step == steps[k]) return SetPowerFactorStep(static_cast<int>(k));
    return false;
}
