#include "monitor/AlarmCycle.h"

#include "monitor/ReadFailureText.h"

namespace {

constexpr int kProbeWaitMs = 400;
constexpr int kOutlets = 30;

}  // namespace

AlarmCycle::AlarmCycle(LinkState& link, Clock& clock, MessageSink* sink)
    : PollingCycle(link, clock), sink_(sink) {
    cells_.Resize(kRows, kCols);
    cells_.Set(0, 0, "Alarm Type");
    const char* phases[] = {"Ua", "Ub", "Uc"};
    for (int p = 0; p < 3; ++p) {
        cells_.Set(1 + p, 1, std::string(phases[p]) + " Upper limit");
        cells_.Set(1 + p, 2, std::string(phases[p]) + " Lower limit");
    }
    cells_.Set(4, 0, "Outlet:");
    for (int n = 1; n <= kOutlets; ++n) {
        cells_.Set(n + 4, 0, std::to_string(n));
        cells_.Set(n + 4, 1, "Current Upper limit");
        cells_.Set(n + 4, 2, "Module Communication fault");
    }
}

CellPos AlarmCycle::CellOf(int word, int bit) {
    switch (word) {
        case 0:
            if (bit >= 3 && bit <= 5) return {1 + (5 - bit), 1};  // Ua bit 5, Ub 4, Uc 3
            if (bit >= 0 && bit <= 2) return {1 + bit, 2};        // Ua bit 0, Ub 1, Uc 2
            break;
        case 1:
        case 3:
            if (bit >= 0 && bit <= 15) return {5 + bit, word == 1 ? 1 : 2};
            break;
        case 2:
        case 4:
            if (bit >= 0 && bit <= 13) return {21 + bit, word == 2 ? 1 : 2};
            break;
        default:
            break;
    }
    return {-1, -1};
}

void AlarmCycle::ApplyBits(const RegisterValues& regs) {
    for (int w = 0; w < kCount; ++w)
        for (int b = 0; b < 16; ++b) {
            const CellPos at = CellOf(w, b);
            if (at.row < 0) continue;
            const bool set = ((regs[static_cast<std::size_t>(w)] >> b) & 1) != 0;
            cells_.SetRole(at.row, at.col, set ? CellRole::Alarm : CellRole::Normal);
        }
}

bool AlarmCycle::Open() {
    outstanding_ = false;
    if (!session_.ReadRegisters(kStart, kCount, kProbeWaitMs)) {
        if (sink_ != nullptr) sink_->Show(kUnableToReadText, "Warning", MsgIcon::Stop, MsgButtons::Ok);
        return false;
    }
    return true;
}

bool AlarmCycle::Tick() {
    const bool judged = outstanding_;
    const auto regs = session_.CollectRegisters(kCount);
    if (regs) ApplyBits(*regs);
    outstanding_ = SendsNext();
    if (outstanding_) session_.SendReadRegisters(kStart, kCount);
    return regs.has_value() || !judged;
}

std::vector<AlarmCycle::Active> AlarmCycle::ActiveAlarms() const {
    std::vector<Active> out;
    for (int r = 1; r < kRows; ++r)
        for (int c = 1; c < kCols; ++c) {
            if (cells_.Role(r, c) != CellRole::Alarm) continue;
            std::string name = cells_.Text(r, c);
            if (r >= 5) name = "Outlet " + cells_.Text(r, 0) + " " + name;
            out.push_back({r, c, std::move(name)});
        }
    return out;
}
