#include "monitor/HarmonicCycle.h"

#include "monitor/NumberText.h"

ThdCycle::ThdCycle(LinkState& link, Clock& clock) : PollingCycle(link, clock) {
    cells_.Resize(kRows, kCols);
    cells_.Set(0, 2, "THD");
    cells_.Set(1, 1, "A相");
    cells_.Set(1, 2, "B相");
    cells_.Set(1, 3, "C相");
    cells_.Set(2, 0, "电压");
    cells_.Set(3, 0, "电流");
}

bool ThdCycle::Open() {
    session_.SendReadRegisters(kStart, kCount);
    return true;
}

bool ThdCycle::Tick() {
    const auto regs = session_.CollectRegisters(kCount);
    if (regs) {
        for (int i = 0; i < kCount; ++i)
            cells_.Set(2 + i / 3, 1 + i % 3,
                       NumberText("%.1f", (*regs)[static_cast<std::size_t>(i)] * 0.1) + "%");
    }
    if (SendsNext()) session_.SendReadRegisters(kStart, kCount);
    return regs.has_value();
}

std::string HarmonicChartCycle::Title(Kind kind, int phase) {
    static constexpr const char* kPhase[kPhases] = {"A", "B", "C"};
    const char* what = kind == Kind::Voltage ? "电压" : "电流";
    return std::string(kPhase[phase % kPhases]) + "相" + what + "谐波含有率(%)";
}

HarmonicChartCycle::HarmonicChartCycle(LinkState& link, Clock& clock, Kind kind)
    : PollingCycle(link, clock), kind_(kind) {
    cells_.Resize(kPhases, 1 + kOrders);
    for (int p = 0; p < kPhases; ++p) {
        titles_[static_cast<std::size_t>(p)] = Title(kind, p);
        cells_.Set(p, 0, titles_[static_cast<std::size_t>(p)]);
    }
}

bool HarmonicChartCycle::Open() {
    phase_ = 0;
    session_.SendReadRegisters(Base(), kOrders);
    return true;
}

bool HarmonicChartCycle::Tick() {
    const auto regs = session_.CollectRegisters(kOrders);
    if (regs) {
        auto& bars = bars_[static_cast<std::size_t>(phase_)];
        for (int k = 0; k < kOrders; ++k) {
            bars[static_cast<std::size_t>(k)] = (*regs)[static_cast<std::size_t>(k)] * 0.1;
            cells_.Set(phase_, 1 + k, NumberText("%0.02f", bars[static_cast<std::size_t>(k)]));
        }
        filled_[static_cast<std::size_t>(phase_)] = true;
        refilled_ = phase_;
    }
    const int next = (phase_ + 1) % kPhases;
    if (SendsNext()) session_.SendReadRegisters(Base() + kOrders * next, kOrders);
    phase_ = next;
    return regs.has_value();
}

int HarmonicChartCycle::TakeRefilled() {
    const int p = refilled_;
    refilled_ = -1;
    return p;
}
