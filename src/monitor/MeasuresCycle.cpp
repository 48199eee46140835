#include "monitor/MeasuresCycle.h"

#include <array>
#include <cstdio>

namespace {

constexpr int kLineRegs = 10;
constexpr int kBlockRegs = 72;
constexpr int kOutletRegs = 12;
constexpr int kOutletsPerBlock = 6;
constexpr int kReadDataWaitMs = 300;
constexpr int kClearSettleMs = 200;
constexpr int kClearPerOutletMs = 500;
constexpr int kClearDoneMs = 1000;
constexpr int kEnergyPresetStart = 9258;
constexpr int kEnergyPresetCommand = 999;

std::string Format(const char* fmt, double v) {
    char buf[64];
    const int n = std::snprintf(buf, sizeof buf, fmt, v);
    return n > 0 ? std::string(buf, static_cast<std::size_t>(n < 64 ? n : 63)) : std::string();
}

}  // namespace

MeasuresCycle::MeasuresCycle(LinkState& link, Clock& clock) : PollingCycle(link, clock) {
    static constexpr std::array<const char*, kCols> kRow0{"Line", "VA (V)",         "VB (V)", "VC (V)",
                                                          "",     "Frequency (Hz)", ""};
    static constexpr std::array<const char*, kCols> kRow2{
        "Outlet",   "Current (A)", "Active power(W)", "Reactive power(var)", "Apparent power(va)",
        "kWh(kWh)", "kvarh(kvarh)"};
    cells_.Resize(kRows, kCols);
    for (int c = 0; c < kCols; ++c) {
        cells_.Set(0, c, kRow0[static_cast<std::size_t>(c)]);
        cells_.Set(2, c, kRow2[static_cast<std::size_t>(c)]);
    }
    for (int n = 1; n <= kOutlets; ++n) cells_.Set(n + 2, 0, std::to_string(n));
}

MeasuresCycle::Request MeasuresCycle::RequestAfter(int step) {
    if (step >= 0 && step < 5) return {10 + step * kBlockRegs, kBlockRegs};
    return {0, kLineRegs};
}

bool MeasuresCycle::Open() {
    session_.SendReadRegisters(0, kLineRegs);
    step_ = 0;
    return true;
}

bool MeasuresCycle::Tick() {
    const int step = step_;
    const auto regs = session_.CollectRegisters(step == 0 ? kLineRegs : kBlockRegs);
    if (!regs) return false;
    if (step == 0) {
        DecodeLine(*regs);
    } else {
        for (int k = 0; k < kOutletsPerBlock; ++k)
            DecodeOutlet(kOutletsPerBlock * (step - 1) + k + 1, regs->data() + k * kOutletRegs);
    }
    const Request next = RequestAfter(step);
    if (SendsNext()) session_.SendReadRegisters(next.start, next.count);
    step_ = static_cast<std::uint8_t>(step >= 5 ? 0 : step + 1);
    return true;
}

bool MeasuresCycle::ReadData(MessageSink* sink) {
    if (!session_.ReadRegisters(0, kLineRegs, kReadDataWaitMs)) {
        if (sink != nullptr) sink->Show(kUnableToReadText, "Warning", MsgIcon::Stop, MsgButtons::Ok);
        return false;
    }
    return Open();
}

bool MeasuresCycle::ClearEnergy(MessageSink* sink) {
    session_.GetClock().sleep(kClearSettleMs);
    for (int i = 0; i < kOutlets; ++i) {
        const std::array<std::int32_t, 6> values{kEnergyPresetCommand, i, 0, 0, 0, 0};
        session_.WriteRegisters(kEnergyPresetStart, values, kClearPerOutletMs);
    }
    session_.GetClock().sleep(kClearDoneMs);
    if (sink != nullptr) sink->Show(kEnergyClearedText, "KVT40", MsgIcon::None, MsgButtons::Ok);
    return ReadData(sink);
}

std::string MeasuresCycle::FormatSigned16(std::int32_t reg, double scale, const char* fmt) {
    return Format(fmt, Signed16(reg) * scale);
}

std::string MeasuresCycle::FormatSigned32(std::int32_t lo, std::int32_t hi, double scale) {
    return Format("%0.1f", JoinSigned32(lo, hi) * scale);
}

std::string MeasuresCycle::FormatUnsigned32(std::int32_t lo, std::int32_t hi, double scale) {
    return Format("%0.1f", Join32(lo, hi) * scale);
}

void MeasuresCycle::DecodeLine(const RegisterValues& regs) {
    cells_.Set(1, 1, FormatSigned16(regs[0], 0.01, "%0.1f"));
    cells_.Set(1, 2, FormatSigned16(regs[1], 0.01, "%0.1f"));
    cells_.Set(1, 3, FormatSigned16(regs[2], 0.01, "%0.1f"));
    cells_.Set(1, 5, FormatSigned16(regs[9], 0.01, "%0.1f"));
}

void MeasuresCycle::DecodeOutlet(int outlet, const std::int32_t* r) {
    const int row = outlet + 2;
    cells_.Set(row, 1, FormatSigned16(r[0], 0.001, "%0.3f"));
    cells_.Set(row, 2, FormatSigned32(r[1], r[2], 0.1));
    cells_.Set(row, 3, FormatSigned32(r[3], r[4], 0.1));
    cells_.Set(row, 4, FormatUnsigned32(r[5], r[6], 0.1));
    cells_.Set(row, 5, FormatUnsigned32(r[8], r[9], 0.1));
    cells_.Set(row, 6, FormatUnsigned32(r[10], r[11], 0.1));
}
