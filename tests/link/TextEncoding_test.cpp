// The report's texts in GBK: the same bytes from iconv (POSIX) and from code page 936
// (Windows, and Wine), checked against fixed bytes on both; and a device's text read back.
#include "link/TextEncoding.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Hex(const std::string& s) {
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (const char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        if (!out.empty()) out += ' ';
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

TEST(TextEncoding, ReportTextsHaveTheirGbkBytes) {
    const struct {
        const char* utf8;
        const char* gbk;
    } cases[] = {
        {"仪表校准", "D2 C7 B1 ED D0 A3 D7 BC"},
        {"校准报告", "D0 A3 D7 BC B1 A8 B8 E6"},
        {"合格", "BA CF B8 F1"},
        {"不合格", "B2 BB BA CF B8 F1"},
        {"！", "A3 A1"},
        {"误差：+0.5%", "CE F3 B2 EE A3 BA 2B 30 2E 35 25"},
        {"€", "80"},  // the one single-byte addition of code page 936; glibc's GBK has it too
        {"OK\t1.000\r\n", "4F 4B 09 31 2E 30 30 30 0D 0A"},
        {"", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.utf8);
        const auto gbk = Utf8ToGbk(c.utf8);
        ASSERT_TRUE(gbk.has_value());
        EXPECT_EQ(Hex(*gbk), c.gbk);
    }
}

TEST(TextEncoding, ATextWithACharacterGbkLacksOrBrokenUtf8GivesNothing) {
    for (const char* text : {"合格 😀", "ก", "\xFF", "\xE4\xBB", "ok\xC0\x80"}) {
        SCOPED_TRACE(Hex(text));
        EXPECT_FALSE(Utf8ToGbk(text).has_value());
    }
}

TEST(TextEncoding, ALongReportConvertsWhole) {
    std::string utf8;
    std::string expected;
    for (int i = 0; i < 2000; ++i) {
        utf8 += "合格\r\n";
        expected += "\xBA\xCF\xB8\xF1\r\n";
    }
    EXPECT_EQ(Utf8ToGbk(utf8), expected);
}

}  // namespace

TEST(TextEncoding, ADeviceLineThatIsNotUtf8IsReadAsGbkAndNothingShowsAsInvalid) {
    // A banner line in GBK ("升级程序 V1.2"), one in UTF-8, one plain; each line on its own.
    const std::string gbk = "\xC9\xFD\xBC\xB6\xB3\xCC\xD0\xF2 V1.2\r\n";
    const std::string utf8 = "升级程序 V1.2\r\n";
    EXPECT_EQ(DeviceTextToUtf8(gbk + utf8 + "C\r\n"), utf8 + utf8 + "C\r\n");
    EXPECT_EQ(DeviceTextToUtf8(""), "");
    // Bytes that are neither: the GBK around them survives and the result is valid UTF-8; the
    // stray bytes show as U+FFFD here, as Windows' code page 936 decides there.
    EXPECT_EQ(DeviceTextToUtf8("\xC9\xFD\xFF==").substr(0, 3), "升");
    EXPECT_TRUE(IsValidUtf8(DeviceTextToUtf8("ok\xC9")));
#if !defined(_WIN32)
    EXPECT_EQ(DeviceTextToUtf8("\xC9\xFD\xFF=="), "升\xEF\xBF\xBD==");
    EXPECT_EQ(DeviceTextToUtf8("ok\xC9"), "ok\xEF\xBF\xBD");  // a lead byte cut off at the end
#endif
    // What UTF-8 forbids is not taken as UTF-8: overlong, surrogate, above U+10FFFF, cut off.
    for (const char* bad : {"\xC0\x80", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE4\xBB"}) {
        SCOPED_TRACE(Hex(bad));
        EXPECT_FALSE(IsValidUtf8(bad));
        EXPECT_TRUE(IsValidUtf8(DeviceTextToUtf8(bad)));
    }
    EXPECT_TRUE(IsValidUtf8("\xF0\x9F\x98\x80 \xF4\x8F\xBF\xBF"));
}
