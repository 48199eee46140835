#include "settings/DecimalText.h"

#include <limits>

namespace {

constexpr int kMaxDigits = 18;  // every 18-digit number fits an int64
constexpr long long kIntegerCap = 1000000000000LL;
constexpr int kExponentCap = 100000;

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

std::size_t SkipSpace(std::string_view t, std::size_t i) {
    while (i < t.size() && IsSpace(t[i])) ++i;
    return i;
}

// Compares magnitude (whole + a fraction when `rest`) with a bound.
int CompareMagnitude(std::int64_t whole, bool rest, std::int64_t bound) {
    if (bound < 0 || whole > bound) return 1;
    if (whole < bound) return -1;
    return rest ? 1 : 0;
}

}  // namespace

std::optional<DecimalNumber> LeadingDecimal(std::string_view t, std::size_t* used) {
    std::size_t i = SkipSpace(t, 0);
    bool negative = false;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) negative = t[i++] == '-';
    std::string digits;
    int exponent = 0;
    bool any = false;
    for (; i < t.size() && IsDigit(t[i]); ++i) {
        any = true;
        if (!digits.empty() || t[i] != '0') digits += t[i];
    }
    if (i < t.size() && t[i] == '.') {
        ++i;
        for (; i < t.size() && IsDigit(t[i]); ++i) {
            any = true;
            if (!digits.empty() || t[i] != '0') digits += t[i];
            --exponent;
        }
    }
    if (!any) return std::nullopt;
    // An exponent counts only with at least one digit after its letter and sign.
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
        std::size_t j = i + 1;
        bool expNegative = false;
        if (j < t.size() && (t[j] == '+' || t[j] == '-')) expNegative = t[j++] == '-';
        if (j < t.size() && IsDigit(t[j])) {
            int e = 0;
            for (; j < t.size() && IsDigit(t[j]); ++j)
                if (e < kExponentCap) e = e * 10 + (t[j] - '0');
            exponent += expNegative ? -e : e;
            i = j;
        }
    }
    while (!digits.empty() && digits.back() == '0') {
        digits.pop_back();
        ++exponent;
    }
    if (used != nullptr) *used = i;
    DecimalNumber n;
    n.negative = negative && !digits.empty();
    n.digits = std::move(digits);
    n.exponent = n.digits.empty() ? 0 : exponent;
    return n;
}

std::optional<DecimalNumber> WholeDecimal(std::string_view t) {
    std::size_t used = 0;
    auto n = LeadingDecimal(t, &used);
    if (!n || SkipSpace(t, used) != t.size()) return std::nullopt;
    return n;
}

DecimalNumber TypedDecimal(std::string_view text) {
    return LeadingDecimal(text).value_or(DecimalNumber{});
}

std::optional<std::int64_t> CutScaled(const DecimalNumber& n, int places) {
    if (n.IsZero()) return 0;
    const long long shift = static_cast<long long>(n.exponent) + places;
    const long long size = static_cast<long long>(n.digits.size());
    if (shift < 0 && -shift >= size) return 0;
    const long long kept = shift < 0 ? size + shift : size;
    if (kept + (shift > 0 ? shift : 0) > kMaxDigits) return std::nullopt;
    std::int64_t v = 0;
    for (long long k = 0; k < kept; ++k) v = v * 10 + (n.digits[static_cast<std::size_t>(k)] - '0');
    for (long long k = 0; k < shift; ++k) v *= 10;
    return n.negative ? -v : v;
}

int CompareScaled(const DecimalNumber& n, std::int64_t bound, int places) {
    if (n.IsZero()) return bound < 0 ? 1 : (bound > 0 ? -1 : 0);
    const auto cut = CutScaled(n, places);
    if (!cut) return n.negative ? -1 : 1;
    // Digits are stored without trailing zeros, so any digit cut off was not zero.
    const bool rest = static_cast<long long>(n.exponent) + places < 0;
    const std::int64_t whole = *cut < 0 ? -*cut : *cut;
    if (!n.negative) return CompareMagnitude(whole, rest, bound);
    if (bound == std::numeric_limits<std::int64_t>::min()) return 1;
    return -CompareMagnitude(whole, rest, -bound);
}

bool InRange(const DecimalNumber& n, std::int64_t lo, std::int64_t hi, int places) {
    return CompareScaled(n, lo, places) >= 0 && CompareScaled(n, hi, places) <= 0;
}

long long LeadingInteger(std::string_view t) {
    std::size_t i = SkipSpace(t, 0);
    bool negative = false;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) negative = t[i++] == '-';
    long long v = 0;
    for (; i < t.size() && IsDigit(t[i]); ++i)
        if (v < kIntegerCap) v = v * 10 + (t[i] - '0');
    return negative ? -v : v;
}

std::optional<int> WholeInteger(std::string_view t, int lo, int hi) {
    std::size_t i = SkipSpace(t, 0);
    long long v = 0;
    const std::size_t first = i;
    for (; i < t.size() && IsDigit(t[i]); ++i)
        if (v < kIntegerCap) v = v * 10 + (t[i] - '0');
    if (i == first || SkipSpace(t, i) != t.size() || v < lo || v > hi) return std::nullopt;
    return static_cast<int>(v);
}
