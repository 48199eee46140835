#include "monitor/DemandCycle.h"

#include <array>

#include "link/ModbusRtu.h"
#include "monitor/NumberText.h"

namespace {

constexpr int kMultiplierWaitMs = 250;
constexpr int kFlagWaitMs = 400;
constexpr int kClearSettleMs = 200;
constexpr int kClearDoneMs = 200;
constexpr int kClearRegister = 251;
constexpr std::int32_t kClearCommand = 888;
constexpr int kFlagRegister = 1048;

}  // namespace

DemandCycle::DemandCycle(LinkState& link, Clock& clock, MessageSink* sink)
    : PollingCycle(link, clock), sink_(sink) {
    cells_.Resize(kRows, kCols);
    for (int half = 0; half < 2; ++half) {
        const int r = 6 * half;
        cells_.Set(r, 2, half == 0 ? "实时需量" : "最大需量");
        cells_.Set(r + 1, 0, "电流");
        cells_.Set(r + 1, 3, "功率");
        cells_.Set(r + 2, 0, "Ia:");
        cells_.Set(r + 3, 0, "Ib:");
        cells_.Set(r + 4, 0, "Ic:");
        cells_.Set(r + 2, 3, "Pa:");
        cells_.Set(r + 3, 3, "Pb:");
        cells_.Set(r + 4, 3, "Pc:");
        cells_.Set(r + 5, 3, "Ptot:");
    }
}

std::string DemandCycle::CurrentText(std::int32_t raw, std::uint16_t m) {
    const std::int64_t scaled = std::int64_t{raw & 0xFFFF} * m;
    return NumberText("%0.3f", static_cast<double>(scaled) * 0.001) + "A";
}

std::string DemandCycle::PowerText(std::int64_t raw, std::uint16_t m) {
    return NumberText("%0.1f", static_cast<double>(raw * m) * 0.1) + "W";
}

bool DemandCycle::Open() {
    echoPending_ = false;
    const auto mult = session_.ReadRegisters(40, 2, kMultiplierWaitMs);
    std::optional<RegisterValues> flag;
    if (mult) {
        multiplier_ = static_cast<std::uint16_t>((*mult)[0]);
        second_ = static_cast<std::uint16_t>((*mult)[1]);
        flag = session_.ReadRegisters(kFlagRegister, 1, kFlagWaitMs);
    }
    if (!flag) {
        if (sink_ != nullptr)
            sink_->Show(kDemandUnableText, kDemandUnableCaption, MsgIcon::Stop, MsgButtons::Ok);
        return false;
    }
    // "PT保留两位小数": the second value comes with two decimals.
    if (((*flag)[0] & 1) != 0) second_ = static_cast<std::uint16_t>(second_ / 100);
    session_.SendReadRegisters(kStart, kCount);
    return true;
}

bool DemandCycle::Tick() {
    const bool judged = !echoPending_;
    echoPending_ = false;
    const auto regs = session_.CollectRegisters(kCount);
    if (regs) Decode(*regs);
    if (SendsNext()) session_.SendReadRegisters(kStart, kCount);
    return regs.has_value() || !judged;
}

void DemandCycle::Decode(const RegisterValues& r) {
    for (int half = 0; half < 2; ++half) {
        const int row = 2 + 6 * half;
        const auto at = static_cast<std::size_t>(8 * half);
        for (std::size_t k = 0; k < 3; ++k) {
            cells_.Set(row + static_cast<int>(k), 1, CurrentText(r[at + k], multiplier_));
            cells_.Set(row + static_cast<int>(k), 4, PowerText(Signed16(r[at + 3 + k]), multiplier_));
        }
        cells_.Set(row + 3, 4, PowerText(JoinSigned32(r[at + 6], r[at + 7]), multiplier_));
    }
}

bool DemandCycle::Clear() {
    session_.GetClock().sleep(kClearSettleMs);
    const std::array<std::int32_t, 1> command{kClearCommand};
    const bool confirmed = session_.WriteRegistersConfirmed(kClearRegister, command, kClearDoneMs);
    echoPending_ = true;
    return confirmed;
}
