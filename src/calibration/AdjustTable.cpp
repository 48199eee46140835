#include "calibration/AdjustTable.h"

#include <array>
#include <charconv>
#include <cmath>

namespace {

constexpr std::array<const char*, AdjustTable::kCols> kHeadings{
    "编号", "项目", "标准源", "仪表", "单位", "允许误差(%)", "相对误差(%)", "引用误差(%)", "结果"};

struct RowText {
    const char* item;
    const char* unit;
    const char* allowed;
};

constexpr std::array<RowText, 5> kCircuitRows{{
    {"电流", "A", "0.5"},
    {"有功功率", "W", "1.0"},
    {"无功功率", "var", "2.0"},
    {"功率因数", "", "0.5"},
    {"频率", "Hz", "0.5"},
}};

constexpr std::array<RowText, 3> kLineRows{{
    {"A相电压", "V", "0.5"},
    {"B相电压", "V", "0.5"},
    {"C相电压", "V", "0.5"},
}};

constexpr const char* kNoVerdict = "\\";

}  // namespace

std::string AdjustTable::Fixed(double value, int decimals) {
    std::array<char, 64> buf{};
    const auto [end, ec] =
        std::to_chars(buf.data(), buf.data() + buf.size(), value, std::chars_format::fixed, decimals);
    if (ec != std::errc()) return {};
    return std::string(buf.data(), end);
}

float AdjustTable::LeadingFloat(std::string_view text) {
    std::size_t at = 0;
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t' || text[at] == '\n' || text[at] == '\r'))
        ++at;
    if (at < text.size() && text[at] == '+') ++at;
    double v = 0;
    const auto [ptr, ec] =
        std::from_chars(text.data() + at, text.data() + text.size(), v, std::chars_format::general);
    (void)ptr;
    if (ec != std::errc() || !std::isfinite(v)) return 0.0f;
    return static_cast<float>(v);
}

void AdjustTable::Build(CellTable& t, AdjustView view) {
    t.Resize(kRows, kCols);
    for (int c = 0; c < kCols; ++c) t.Set(0, c, kHeadings[static_cast<std::size_t>(c)]);
    for (int r = 1; r < kRows; ++r) t.Set(r, 0, std::to_string(r));
    auto put = [&t](int row, const RowText& text) {
        t.Set(row, 1, text.item);
        t.Set(row, 4, text.unit);
        t.Set(row, kAllowedCol, text.allowed);
    };
    if (view == AdjustView::Circuit) {
        for (std::size_t k = 0; k < kCircuitRows.size(); ++k) put(static_cast<int>(k) + 1, kCircuitRows[k]);
    } else {
        for (std::size_t k = 0; k < kLineRows.size(); ++k) put(static_cast<int>(k) + 1, kLineRows[k]);
    }
}

void AdjustTable::FillMeter(CellTable& t, const CircuitReading& r) {
    t.Set(1, kMeterCol, Fixed(r.current, 2));
    t.Set(2, kMeterCol, Fixed(r.active, 2));
    t.Set(3, kMeterCol, Fixed(r.reactive, 2));
    t.Set(4, kMeterCol, Fixed(r.powerFactor, 3));
    t.Set(5, kMeterCol, Fixed(r.frequency, 2));
}

void AdjustTable::FillMeter(CellTable& t, const LineReading& r) {
    t.Set(1, kMeterCol, Fixed(r.ua, 2));
    t.Set(2, kMeterCol, Fixed(r.ub, 2));
    t.Set(3, kMeterCol, Fixed(r.uc, 2));
}

void AdjustTable::FillStandard(CellTable& t, AdjustView view, const StandardValues& s) {
    if (view == AdjustView::Circuit) {
        t.Set(1, kStandardCol, Fixed(s.current, 4));
        t.Set(2, kStandardCol, Fixed(s.active, 2));
        t.Set(3, kStandardCol, Fixed(s.reactive, 2));
        t.Set(4, kStandardCol, Fixed(s.powerFactor, 3));
        t.Set(5, kStandardCol, Fixed(s.frequency, 2));
    } else {
        t.Set(1, kStandardCol, Fixed(s.ua, 2));
        t.Set(2, kStandardCol, Fixed(s.ub, 2));
        t.Set(3, kStandardCol, Fixed(s.uc, 2));
    }
}

void AdjustTable::Evaluate(CellTable& t, AdjustView view) {
    for (int row = 1; row <= DataRows(view); ++row) {
        const float meter = LeadingFloat(t.Text(row, kMeterCol));
        const float standard = LeadingFloat(t.Text(row, kStandardCol));
        const float allowed = LeadingFloat(t.Text(row, kAllowedCol));
        if (standard == 0.0f) {
            // No finite relative error: the row is not judged.
            t.Set(row, kRelativeCol, kNoVerdict);
            t.Set(row, kResultCol, kNoVerdict);
            t.SetRole(row, kResultCol, CellRole::Normal);
            continue;
        }
        const float relative = (meter - standard) / standard * 100.0f;
        t.Set(row, kRelativeCol, Fixed(relative, 3));
        const bool ng = std::fabs(relative) > allowed;
        t.Set(row, kResultCol, ng ? "NG" : "OK");
        t.SetRole(row, kResultCol, ng ? CellRole::Ng : CellRole::Normal);
    }
}

bool AdjustTable::AnyNg(const CellTable& t, AdjustView view) {
    for (int row = 1; row <= DataRows(view); ++row)
        if (t.Text(row, kResultCol) == "NG") return true;
    return false;
}
