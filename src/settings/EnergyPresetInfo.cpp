#include "settings/EnergyPresetInfo.h"

#include <array>

#include "settings/DecimalText.h"

namespace {

constexpr int kOutlets = 30;
constexpr std::int64_t kEnergyMax = 999999999;  // 99999999.9 in 0.1 units
constexpr int kPlaces = 1;

struct InfoRead {
    int row;
    int start;
    int count;
};
constexpr std::array<InfoRead, 4> kInfoReads{{{1, 9500, 1}, {2, 9501, 1}, {3, 9502, 6}, {4, 9563, 1}}};

std::optional<DecimalNumber> Energy(const std::string& text) {
    auto n = WholeDecimal(text);
    if (!n || !InRange(*n, 0, kEnergyMax, kPlaces)) return std::nullopt;
    return n;
}

}  // namespace

EnergyPresetInfo::EnergyPresetInfo(LinkState& link, Clock& clock) : session_(link, clock) {
    cells_.Resize(kRows, kCols);
    const std::array<const char*, kRows> items{"项目", "软件版本", "测试版本", "定制单号", "硬件版本"};
    for (int r = 0; r < kRows; ++r) {
        cells_.Set(r, 0, items[static_cast<std::size_t>(r)]);
        cells_.SetRole(r, 0, CellRole::Header);
        if (r > 0) cells_.Set(r, 2, "/");
    }
    cells_.Set(0, 1, "当前值");
    cells_.Set(0, 2, "设定值");
    cells_.SetRole(0, 1, CellRole::Header);
    cells_.SetRole(0, 2, CellRole::Header);
}

void EnergyPresetInfo::SetFields(std::string outlet, std::string active, std::string reactive) {
    outlet_ = std::move(outlet);
    active_ = std::move(active);
    reactive_ = std::move(reactive);
}

std::optional<std::string> EnergyPresetInfo::CheckFields() const {
    if (!WholeInteger(outlet_, 1, kOutlets)) return kOutletFieldText;
    if (!Energy(active_)) return kActiveFieldText;
    if (!Energy(reactive_)) return kReactiveFieldText;
    return std::nullopt;
}

WriteOutcome EnergyPresetInfo::PresetEnergy(MessageSink& sink) {
    if (const auto fault = CheckFields()) {
        sink.Show(*fault, kFieldCheckCaption, MsgIcon::Exclamation, MsgButtons::Ok);
        return WriteOutcome::Refused;
    }
    const int outlet = *WholeInteger(outlet_, 1, kOutlets);
    // Checked: both fit 0..999999999, so 32 bits hold them.
    const auto active = static_cast<std::uint32_t>(*CutScaled(*Energy(active_), kPlaces));
    const auto reactive = static_cast<std::uint32_t>(*CutScaled(*Energy(reactive_), kPlaces));
    const std::array<std::int32_t, 6> values{kPresetCommand,
                                             outlet - 1,
                                             static_cast<std::int32_t>(active & 0xFFFFu),
                                             static_cast<std::int32_t>(active >> 16),
                                             static_cast<std::int32_t>(reactive & 0xFFFFu),
                                             static_cast<std::int32_t>(reactive >> 16)};
    if (!session_.WriteRegistersConfirmed(kPresetStart, values, kPresetWaitMs)) {
        sink.Show(kCannotWriteText, "警告", MsgIcon::Stop, MsgButtons::Ok);
        return WriteOutcome::Failed;
    }
    sink.Show(kDataWrittenText, "提示", MsgIcon::Information, MsgButtons::Ok);
    return WriteOutcome::Done;
}

bool EnergyPresetInfo::ReadInfo(MessageSink& sink) {
    for (const InfoRead& read : kInfoReads) {
        const auto regs = session_.ReadRegisters(read.start, read.count, kInfoWaitMs);
        if (!regs) {
            sink.Show(kCannotReadMeterText, "警告", MsgIcon::Stop, MsgButtons::Ok);
            return false;
        }
        if (read.count == 1)
            cells_.Set(read.row, 1, std::to_string((*regs)[0] & 0xFF));
        else
            cells_.Set(read.row, 1, OrderText(*regs));
    }
    return true;
}

std::string EnergyPresetInfo::OrderText(std::span<const std::int32_t> regs) {
    std::string text;
    for (const std::int32_t reg : regs) {
        const std::array<int, 2> bytes{reg & 0xFF, (reg >> 8) & 0xFF};
        for (const int b : bytes) {
            if (b == 0) return text.empty() ? "/" : text;
            text += b >= 0x20 && b < 0x7F ? static_cast<char>(b) : '?';
        }
    }
    return text.empty() ? "/" : text;
}
