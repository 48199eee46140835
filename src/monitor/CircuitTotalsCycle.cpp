#include "monitor/CircuitTotalsCycle.h"

#include <array>

#include "monitor/MeasuresCycle.h"
#include "monitor/ReadFailureText.h"

namespace {

constexpr int kClearSettleMs = 200;
constexpr int kClearDoneMs = 5000;
constexpr int kCtWaitMs = 100;
constexpr int kEnergyPresetStart = 9258;
constexpr int kEnergyPresetCommand = 999;
constexpr int kMaxOutlets = 30;

}  // namespace

CircuitTotalsCycle::CircuitTotalsCycle(LinkState& link, Clock& clock) : PollingCycle(link, clock) {
    cells_.Resize(kRows, kCols);
    cells_.Set(0, 1, "Total Active power (W)");
    cells_.Set(0, 2, "Total Reactive power (var)");
    cells_.Set(0, 3, "Total kWh(kWh)");
    for (int c = 1; c <= kCircuits; ++c) cells_.Set(c, 0, "Circuit " + std::to_string(c));
}

bool CircuitTotalsCycle::Open() {
    // A request that could not be written is judged all the same: its tick finds nothing.
    session_.SendReadRegisters(kStart, kCount);
    outstanding_ = true;
    return true;
}

bool CircuitTotalsCycle::Tick() {
    const bool judged = outstanding_;
    outstanding_ = false;
    const auto regs = session_.CollectRegisters(kCount);
    if (!regs) return !judged;
    const RegisterValues& r = *regs;
    for (int c = 1; c <= kCircuits; ++c) {
        const auto i = static_cast<std::size_t>(2 * (c - 1));
        cells_.Set(c, 1, MeasuresCycle::FormatSigned32(r[i], r[i + 1], 0.1));
        cells_.Set(c, 2, MeasuresCycle::FormatSigned32(r[20 + i], r[21 + i], 0.1));
        cells_.Set(c, 3, MeasuresCycle::FormatUnsigned32(r[40 + i], r[41 + i], 0.1));
    }
    ++readings_;
    return true;
}

bool CircuitTotalsCycle::ClearEnergy(int circuit, MessageSink* sink) {
    if (circuit < 1 || circuit > kMaxOutlets) return false;
    session_.GetClock().sleep(kClearSettleMs);
    const std::array<std::int32_t, 6> values{kEnergyPresetCommand, circuit - 1, 0, 0, 0, 0};
    session_.WriteRegisters(kEnergyPresetStart, values, 0);
    session_.GetClock().sleep(kClearDoneMs);
    if (sink != nullptr) sink->Show(kEnergyClearedText, "KVT40", MsgIcon::None, MsgButtons::Ok);
    return true;
}

std::vector<int> CircuitTotalsCycle::PresentModules(int count, std::int32_t reg373, std::int32_t reg374) {
    std::vector<int> out;
    if (count < 1 || count > kMaxOutlets) return out;
    for (int m = 1; m <= count; ++m) {
        const bool fault = m <= 16 ? ((reg373 >> (m - 1)) & 1) != 0 : ((reg374 >> (m - 17)) & 1) != 0;
        if (!fault) out.push_back(m);
    }
    return out;
}

std::vector<int> CircuitTotalsCycle::ReadCtModules() {
    int count = 0;
    const auto n = session_.ReadRegisters(503, 1, kCtWaitMs);
    session_.GetClock().sleep(kCtWaitMs);
    if (n) count = (*n)[0];
    const auto bits = session_.ReadRegisters(373, 2, kCtWaitMs);
    session_.GetClock().sleep(kCtWaitMs);
    if (!bits) return {};
    return PresentModules(count, (*bits)[0], (*bits)[1]);
}
