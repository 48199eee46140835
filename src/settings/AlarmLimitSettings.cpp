#include "settings/AlarmLimitSettings.h"

#include <array>
#include <cstdio>

#include "settings/DecimalText.h"
#include "settings/WriteCheck.h"

namespace {

constexpr int kVoltageMax = 38000;  // 380.00 V in 0.01 V
constexpr int kCurrentMin = 100;    // 1.00 A in 0.01 A
constexpr int kCurrentMax = 6300;   // 63.00 A
constexpr int kPlaces = 2;          // registers hold hundredths
constexpr const char* kOutletUnit = "  A";

std::string Hundredths(std::int32_t reg, const char* unit = "") {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%0.2f", reg * 0.01);
    return std::string(buf) + unit;
}

// Checked values fit: voltages up to 38000, currents up to 6300.
std::int32_t Register(const DecimalNumber& n) {
    return static_cast<std::int32_t>(CutScaled(n, kPlaces).value_or(0));
}

// A checked cell is a plain number; only Check lets one through.
DecimalNumber Checked(const std::string& text) {
    return WholeDecimal(text).value_or(DecimalNumber{});
}

}  // namespace

AlarmLimitSettings::AlarmLimitSettings(LinkState& link, Clock& clock) : session_(link, clock) {
    cells_.Resize(kRows, kCols);
    cells_.Set(0, 0, "Item");
    cells_.Set(0, 1, "Initial value");
    cells_.Set(0, 2, "Setting value");
    cells_.Set(1, 0, "Voltage Upper limit");
    cells_.Set(2, 0, "Voltage Lower limit");
    for (int n = 1; n <= kOutlets; ++n)
        cells_.Set(2 + n, 0, "Outlet " + std::to_string(n) + " Current Upper limit");
    for (int c = 0; c < kCols; ++c) cells_.SetRole(0, c, CellRole::Header);
    for (int r = 1; r < kRows; ++r) cells_.SetRole(r, 0, CellRole::Header);
}

bool AlarmLimitSettings::ReadInto(MessageSink& sink, const char* voltageUnit) {
    const auto regs = session_.ReadRegisters(kBlockStart, kBlockCount, kReadWaitMs);
    if (!regs) {
        sink.Show(kUnableToReadMeterText, "Warning", MsgIcon::Stop, MsgButtons::Ok);
        return false;
    }
    const RegisterValues& v = *regs;
    lastRead_ = v;
    cells_.Set(1, 1, Hundredths(v[0], voltageUnit));
    cells_.Set(2, 1, Hundredths(v[1], voltageUnit));
    // v[2] is register 506, read with the block and not shown.
    for (int n = 1; n <= kOutlets; ++n)
        cells_.Set(2 + n, 1, Hundredths(v[static_cast<std::size_t>(2 + n)], kOutletUnit));
    // The setting column starts from what the module holds, so a Set rewrites the limits
    // nobody touched with their own values instead of switching them off.
    cells_.Set(1, 2, Hundredths(v[0]));
    cells_.Set(2, 2, Hundredths(v[1]));
    for (int n = 1; n <= kOutlets; ++n) cells_.Set(2 + n, 2, Hundredths(v[static_cast<std::size_t>(2 + n)]));
    return true;
}

bool AlarmLimitSettings::Open(MessageSink& sink) {
    return ReadInto(sink, " V");
}

bool AlarmLimitSettings::Read(MessageSink& sink) {
    return ReadInto(sink, "V");
}

void AlarmLimitSettings::SetTyped(int row, std::string text) {
    if (row >= 1 && row < kRows) cells_.Set(row, 2, std::move(text));
}

std::string NotANumberText(const std::string& item, const std::string& text) {
    if (text.find_first_not_of(" \t") == std::string::npos) return item + ": no setting value!";
    return item + ": \"" + text + "\" is not a number!";
}

std::optional<std::string> AlarmLimitSettings::Check() const {
    // A typo ("26O", "abc") is no limit: taking its leading digits or 0 would write a
    // value nobody meant, so every row must be a plain number before the ranges count.
    for (int r = 1; r < kRows; ++r)
        if (!WholeDecimal(cells_.Text(r, 2))) return NotANumberText(cells_.Text(r, 0), cells_.Text(r, 2));
    const DecimalNumber upper = Checked(cells_.Text(1, 2));
    const DecimalNumber lower = Checked(cells_.Text(2, 2));
    if (!InRange(upper, 0, kVoltageMax, kPlaces)) return kVoltageUpperRangeText;
    if (!InRange(lower, 0, kVoltageMax, kPlaces)) return kVoltageLowerRangeText;
    const std::int32_t u = Register(upper);
    const std::int32_t l = Register(lower);
    // A limit of 0 is switched off, so it sets no order.
    if (u < l && u != 0 && l != 0) return kVoltageOrderText;
    for (int n = 1; n <= kOutlets; ++n) {
        const DecimalNumber c = Checked(cells_.Text(2 + n, 2));
        if (!c.IsZero() && !InRange(c, kCurrentMin, kCurrentMax, kPlaces)) return kCurrentRangeText;
    }
    return std::nullopt;
}

WriteOutcome AlarmLimitSettings::Set(MessageSink& sink) {
    if (const auto fault = Check()) {
        sink.Show(*fault, "Warning", MsgIcon::Exclamation, MsgButtons::Ok);
        return WriteOutcome::Refused;
    }
    const std::array<std::int32_t, 2> voltages{Register(Checked(cells_.Text(1, 2))),
                                               Register(Checked(cells_.Text(2, 2)))};
    std::array<std::int32_t, kOutlets> currents{};
    for (int n = 1; n <= kOutlets; ++n)
        currents[static_cast<std::size_t>(n - 1)] = Register(Checked(cells_.Text(2 + n, 2)));
    // The form judges nothing and shows the read-back; a refusal is kept for WriteFault.
    writeFault_.reset();
    if (!session_.WriteRegistersConfirmed(kBlockStart, voltages, kWriteWaitMs) &&
        session_.LastFailure() == ExchangeFailure::Exception)
        writeFault_ = RefusedWriteText(kBlockStart, session_);
    if (!session_.WriteRegistersConfirmed(kOutletStart, currents, kWriteWaitMs) && !writeFault_ &&
        session_.LastFailure() == ExchangeFailure::Exception)
        writeFault_ = RefusedWriteText(kOutletStart, session_);
    if (!Read(sink)) return WriteOutcome::Failed;
    if (!writeFault_) writeFault_ = ReadBackDifference(kBlockStart, voltages, kBlockStart, lastRead_);
    if (!writeFault_) writeFault_ = ReadBackDifference(kOutletStart, currents, kBlockStart, lastRead_);
    return WriteOutcome::Done;
}
