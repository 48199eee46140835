#include "settings/DecimalText.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

std::int64_t Cut(const std::string& text, int places) {
    return CutScaled(TypedDecimal(text), places).value();
}

// Every settable voltage typed with two decimals is written as exactly its hundredths;
// through a double, 0.29 x 100 cut gives 28 (2292 of these 38001 come out one low).
TEST(DecimalText, EveryTwoDecimalVoltageCutsToItsOwnHundredths) {
    char text[16];
    int wrong = 0;
    for (int i = 0; i <= 38000; ++i) {
        std::snprintf(text, sizeof text, "%d.%02d", i / 100, i % 100);
        if (Cut(text, 2) != i) ++wrong;
    }
    EXPECT_EQ(wrong, 0);
}

TEST(DecimalText, CutsTowardZeroOnTheTypedDigits) {
    EXPECT_EQ(Cut("12.345", 2), 1234);
    EXPECT_EQ(Cut("0.29", 2), 29);
    EXPECT_EQ(Cut("1.13", 2), 113);
    EXPECT_EQ(Cut("2.01", 2), 201);
    EXPECT_EQ(Cut("380.00", 2), 38000);
    EXPECT_EQ(Cut("63", 2), 6300);
    EXPECT_EQ(Cut("1234.5", 1), 12345);
    EXPECT_EQ(Cut("99999999.9", 1), 999999999);
    EXPECT_EQ(Cut("0.05", 1), 0);
    EXPECT_EQ(Cut("-12.349", 2), -1234);
    EXPECT_EQ(Cut("1.5e2", 2), 15000);
    EXPECT_EQ(Cut("25e-1", 2), 250);
    EXPECT_EQ(Cut("000120.500", 2), 12050);
    EXPECT_FALSE(CutScaled(TypedDecimal("1e30"), 2).has_value());
}

TEST(DecimalText, TheLeadingNumberOfATextAndNothingElse) {
    EXPECT_EQ(Cut("  230.5 V", 2), 23050);
    EXPECT_EQ(Cut("12.3.4", 2), 1230);
    EXPECT_EQ(Cut("7e", 2), 700);  // an exponent needs its digits
    EXPECT_EQ(Cut("7e+x", 2), 700);
    EXPECT_EQ(Cut(".5", 2), 50);
    EXPECT_EQ(Cut("5.", 2), 500);
    EXPECT_EQ(Cut("-0", 2), 0);
    EXPECT_FALSE(TypedDecimal("-0.00").negative);
    for (const char* none : {"", "abc", ".", "-", "+.", " e5", "V230"}) {
        EXPECT_FALSE(LeadingDecimal(none).has_value()) << none;
        EXPECT_TRUE(TypedDecimal(none).IsZero()) << none;
    }
    std::size_t used = 0;
    ASSERT_TRUE(LeadingDecimal(" 1.5e2x", &used));
    EXPECT_EQ(used, 6u);
}

TEST(DecimalText, WholeTextsAllowOnlySpacesAround) {
    EXPECT_TRUE(WholeDecimal(" 1234.5 "));
    EXPECT_FALSE(WholeDecimal("1234.5x"));
    EXPECT_FALSE(WholeDecimal("1,5"));
    EXPECT_FALSE(WholeDecimal(""));
    EXPECT_EQ(WholeInteger(" 30 ", 1, 30), 30);
    EXPECT_FALSE(WholeInteger("31", 1, 30));
    EXPECT_FALSE(WholeInteger("0", 1, 30));
    EXPECT_FALSE(WholeInteger("1.0", 1, 30));
    EXPECT_FALSE(WholeInteger("-1", 1, 30));
    EXPECT_FALSE(WholeInteger("+1", 1, 30));
    EXPECT_FALSE(WholeInteger("99999999999999999999", 1, 30));
}

// The range checks compare the typed value itself, not a rounded or cut one.
TEST(DecimalText, ComparesExactly) {
    EXPECT_TRUE(InRange(TypedDecimal("380.00"), 0, 38000, 2));
    EXPECT_FALSE(InRange(TypedDecimal("380.01"), 0, 38000, 2));
    EXPECT_FALSE(InRange(TypedDecimal("380.000000000000000001"), 0, 38000, 2));
    EXPECT_TRUE(InRange(TypedDecimal("63.0"), 100, 6300, 2));
    EXPECT_FALSE(InRange(TypedDecimal("63.01"), 100, 6300, 2));
    EXPECT_FALSE(InRange(TypedDecimal("0.999"), 100, 6300, 2));
    EXPECT_FALSE(InRange(TypedDecimal("-0.001"), 0, 38000, 2));
    EXPECT_FALSE(InRange(TypedDecimal("1e400"), 0, 38000, 2));
    EXPECT_FALSE(InRange(TypedDecimal("-1e400"), 0, 38000, 2));
    EXPECT_TRUE(InRange(TypedDecimal("99999999.9"), 0, 999999999, 1));
    EXPECT_FALSE(InRange(TypedDecimal("99999999.95"), 0, 999999999, 1));
    EXPECT_EQ(CompareScaled(TypedDecimal("-5"), -500, 2), 0);
    EXPECT_LT(CompareScaled(TypedDecimal("-5.01"), -500, 2), 0);
    EXPECT_GT(CompareScaled(TypedDecimal("-4.99"), -500, 2), 0);
}

TEST(DecimalText, LeadingIntegerReadsDigitsAfterASign) {
    EXPECT_EQ(LeadingInteger("12abc"), 12);
    EXPECT_EQ(LeadingInteger(" 247"), 247);
    EXPECT_EQ(LeadingInteger("12.9"), 12);
    EXPECT_EQ(LeadingInteger("-3"), -3);
    EXPECT_EQ(LeadingInteger("abc"), 0);
    EXPECT_EQ(LeadingInteger(""), 0);
    EXPECT_GT(LeadingInteger("4294967297"), 247);  // no wrap to 1
    EXPECT_GT(LeadingInteger(std::string(400, '9')), 247);
}

}  // namespace
