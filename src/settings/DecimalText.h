#pragma once
// Typed numbers kept as the user wrote them. A typed decimal that becomes a register is
// cut on its own decimal digits, never through binary floating point: 0.29 x 100 in a
// double is 28.999..., which cuts to 28, so one limit in sixteen would be written low.
//
//     auto v = LeadingDecimal("12.345 V");     // digits "12345", exponent -3
//     CutScaled(*v, 2);                         // 1234 (cut toward zero, not rounded)
//     CompareScaled(*v, 38000, 2) <= 0;         // v <= 380.00, exactly
//     LeadingInteger("12abc");                  // 12

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct DecimalNumber {
    bool negative = false;  // never set for zero
    std::string digits;     // no leading or trailing zeros; empty for zero
    int exponent = 0;       // value = digits x 10^exponent
    bool IsZero() const { return digits.empty(); }
};

// The number at the start of a text, read as the C library reads a decimal: leading white
// space, a sign, digits with at most one point, then an optional exponent ("1.5e2").
// Nothing when the text does not start with a number. `used` (when given) receives the
// characters the number took, the white space before it included.
std::optional<DecimalNumber> LeadingDecimal(std::string_view text, std::size_t* used = nullptr);
// The whole text is one number; spaces around it are allowed.
std::optional<DecimalNumber> WholeDecimal(std::string_view text);
// A text taken as a decimal the lenient way: its leading number, or 0 when it has none.
DecimalNumber TypedDecimal(std::string_view text);

// The number x 10^places, cut toward zero; nothing when it does not fit 18 digits.
std::optional<std::int64_t> CutScaled(const DecimalNumber& n, int places);
// The exact order of the number and bound / 10^places: negative, zero or positive.
int CompareScaled(const DecimalNumber& n, std::int64_t bound, int places);
// lo / 10^places <= n <= hi / 10^places, exactly.
bool InRange(const DecimalNumber& n, std::int64_t lo, std::int64_t hi, int places);

// The whole number at the start of a text: white space, a sign, digits ("12abc" is 12,
// a text without digits is 0). Held within +-10^12, so huge inputs stay huge.
long long LeadingInteger(std::string_view text);
// The whole text is an unsigned decimal integer from lo to hi (spaces around allowed).
std::optional<int> WholeInteger(std::string_view text, int lo, int hi);
