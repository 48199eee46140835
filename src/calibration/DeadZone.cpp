#include "calibration/DeadZone.h"

#include "calibration/AdjustIds.h"
#include "settings/DecimalText.h"
#include "settings/WriteCheck.h"

namespace {

struct Row {
    const char* item;
    const char* start;
};

constexpr std::array<Row, 10> kRowTexts{{
    {"A相电压(0.01V)", "100"},
    {"B相电压(0.01V)", "100"},
    {"C相电压(0.01V)", "100"},
    {"A相电流(mA)", "10"},
    {"B相电流(mA)", "10"},
    {"C相电流(mA)", "10"},
    {"零序电流(mA)", "30"},
    {"A相电流电能死区(mA)", "50"},
    {"B相电流电能死区(mA)", "50"},
    {"C相电流电能死区(mA)", "50"},
}};

}  // namespace

DeadZone::DeadZone(LinkState& link, Clock& clock) : session_(link, clock), cells_(kRows, kCols) {
    cells_.Set(0, 0, "项目");
    cells_.Set(0, kCurrentCol, "当前值");
    cells_.Set(0, kSetCol, "设定值");
    for (int r = 1; r < kRows; ++r) {
        cells_.Set(r, 0, kRowTexts[static_cast<std::size_t>(r - 1)].item);
        cells_.Set(r, kSetCol, kRowTexts[static_cast<std::size_t>(r - 1)].start);
    }
}

bool DeadZone::Read(MessageSink* sink) {
    const auto regs = session_.ReadRegisters(kFirstRegister, 10, kReadWaitMs);
    if (!regs) {
        if (sink != nullptr) sink->Show(adjust::kCannotRead, adjust::kWarning, MsgIcon::Stop, MsgButtons::Ok);
        return false;
    }
    for (int k = 0; k < 10; ++k)
        cells_.Set(RowOfRegister(k), kCurrentCol, std::to_string((*regs)[static_cast<std::size_t>(k)]));
    lastRead_ = *regs;
    return true;
}

std::optional<int> DeadZone::SetValue(int row) const {
    return WholeInteger(cells_.Text(row, kSetCol), 0, 65535);
}

std::array<std::int32_t, 11> DeadZone::WriteOrder(const std::array<long long, 10>& rows) {
    std::array<std::int32_t, 11> out{32};
    constexpr std::array<int, 10> order{8, 9, 10, 1, 2, 3, 4, 5, 6, 7};
    for (std::size_t k = 0; k < order.size(); ++k)
        out[k + 1] = static_cast<std::int32_t>(rows[static_cast<std::size_t>(order[k] - 1)]);
    return out;
}

bool DeadZone::Set(MessageSink* sink) {
    std::array<long long, 10> rows{};
    for (int r = 1; r <= 10; ++r) {
        // "12.9" or "12abc" is no dead zone: writing its leading digits would be a value nobody typed.
        const auto v = SetValue(r);
        if (!v) {
            if (sink != nullptr)
                sink->Show(kDeadZoneOutOfRange, adjust::kWarning, MsgIcon::Stop, MsgButtons::Ok);
            return false;
        }
        rows[static_cast<std::size_t>(r - 1)] = *v;
    }
    const auto values = WriteOrder(rows);
    // The dialog judges nothing and shows the read-back; a refusal is kept for WriteFault.
    writeFault_.reset();
    if (!session_.WriteRegistersConfirmed(kFirstRegister, values, kWriteWaitMs) &&
        session_.LastFailure() == ExchangeFailure::Exception)
        writeFault_ = RefusedWriteText(kFirstRegister, session_);
    if (!Read(sink)) return false;
    // The module keeps the ten values from 1023 on, without the leading 32.
    if (!writeFault_)
        writeFault_ = ReadBackDifference(kFirstRegister, std::span<const std::int32_t>(values).subspan(1),
                                         kFirstRegister, lastRead_);
    return true;
}
