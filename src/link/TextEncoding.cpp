#include "link/TextEncoding.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <iconv.h>

#endif

#include <limits>
#include <vector>

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// One line that is not UTF-8, read as GBK.
std::string GbkLineToUtf8(std::string_view gbk);

}  // namespace

bool IsValidUtf8(std::string_view bytes) {
    std::size_t i = 0;
    const auto at = [&](std::size_t k) { return static_cast<unsigned char>(bytes[k]); };
    while (i < bytes.size()) {
        const unsigned char c = at(i);
        if (c < 0x80) {
            ++i;
            continue;
        }
        // Continuation bytes after the lead, and the narrower range some leads allow the first.
        std::size_t n = 3;
        unsigned lo = 0x80;
        unsigned hi = 0xBF;
        if (c >= 0xC2 && c <= 0xDF)
            n = 1;
        else if (c >= 0xE0 && c <= 0xEF)
            n = 2;
        else if (c < 0xF0 || c > 0xF4)
            return false;
        if (c == 0xE0) lo = 0xA0;                 // overlong
        if (c == 0xED) hi = 0x9F;                 // surrogates
        if (c == 0xF0) lo = 0x90;                 // overlong
        if (c == 0xF4) hi = 0x8F;                 // above U+10FFFF
        if (i + n >= bytes.size()) return false;  // cut off at the end
        if (at(i + 1) < lo || at(i + 1) > hi) return false;
        for (std::size_t k = 2; k <= n; ++k)
            if (at(i + k) < 0x80 || at(i + k) > 0xBF) return false;
        i += n + 1;
    }
    return true;
}

std::string DeviceTextToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    std::size_t start = 0;
    // GBK's trail bytes are never 0x0A, so a line break is a line break in either encoding.
    while (start < bytes.size()) {
        std::size_t end = bytes.find('\n', start);
        end = end == std::string_view::npos ? bytes.size() : end + 1;
        const std::string_view line = bytes.substr(start, end - start);
        if (IsValidUtf8(line))
            out.append(line);
        else
            out.append(GbkLineToUtf8(line));
        start = end;
    }
    return out;
}

#if defined(_WIN32)

namespace {

std::string GbkLineToUtf8(std::string_view gbk) {
    if (gbk.empty() || gbk.size() > static_cast<std::size_t>(std::numeric_limits<int>::max() / 4)) return {};
    const int inLength = static_cast<int>(gbk.size());
    // Without MB_ERR_INVALID_CHARS a byte that is not GBK becomes the replacement character.
    const int wideLength = MultiByteToWideChar(936, 0, gbk.data(), inLength, nullptr, 0);
    if (wideLength <= 0) return std::string(kReplacement);
    std::vector<wchar_t> wide(static_cast<std::size_t>(wideLength));
    MultiByteToWideChar(936, 0, gbk.data(), inLength, wide.data(), wideLength);
    const int outLength =
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
    if (outLength <= 0) return std::string(kReplacement);
    std::string out(static_cast<std::size_t>(outLength), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, out.data(), outLength, nullptr, nullptr);
    return out;
}

}  // namespace

// MinGW has no iconv; the system's own tables for code page 936 are the reference anyway.
std::optional<std::string> Utf8ToGbk(std::string_view utf8) {
    if (utf8.empty()) return std::string();
    if (utf8.size() > static_cast<std::size_t>(std::numeric_limits<int>::max() / 2)) return std::nullopt;
    const int inLength = static_cast<int>(utf8.size());
    const int wideLength =
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), inLength, nullptr, 0);
    if (wideLength <= 0) return std::nullopt;
    std::vector<wchar_t> wide(static_cast<std::size_t>(wideLength));
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), inLength, wide.data(), wideLength) !=
        wideLength)
        return std::nullopt;
    // No best fit: a character without a GBK form must be reported, not approximated.
    BOOL usedDefault = FALSE;
    const int outLength = WideCharToMultiByte(936, WC_NO_BEST_FIT_CHARS, wide.data(), wideLength, nullptr, 0,
                                              nullptr, &usedDefault);
    if (outLength <= 0 || usedDefault) return std::nullopt;
    std::string out(static_cast<std::size_t>(outLength), '\0');
    usedDefault = FALSE;
    if (WideCharToMultiByte(936, WC_NO_BEST_FIT_CHARS, wide.data(), wideLength, out.data(), outLength,
                            nullptr, &usedDefault) != outLength ||
        usedDefault)
        return std::nullopt;
    return out;
}

#else

namespace {

std::string GbkLineToUtf8(std::string_view gbk) {
    const iconv_t cd = iconv_open("UTF-8", "GBK");
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(kReplacement);
    std::string in(gbk);
    std::string out;
    std::vector<char> buffer(in.size() * 3 + 8);  // a GBK byte never takes more than 3 UTF-8 bytes
    char* inPtr = in.data();
    std::size_t inLeft = in.size();
    while (inLeft > 0) {
        char* outPtr = buffer.data();
        std::size_t outLeft = buffer.size();
        const std::size_t r = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
        out.append(buffer.data(), buffer.size() - outLeft);
        if (r == static_cast<std::size_t>(-1) && inLeft > 0) {
            // Not GBK either (or cut off at the end): show that byte as unknown, go on after it.
            out.append(kReplacement);
            ++inPtr;
            --inLeft;
        }
    }
    iconv_close(cd);
    return out;
}

}  // namespace

std::optional<std::string> Utf8ToGbk(std::string_view utf8) {
    if (utf8.empty()) return std::string();
    const iconv_t cd = iconv_open("GBK", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
    std::string in(utf8);
    std::string out(in.size() * 2, '\0');  // GBK never needs more than two bytes a character
    char* inPtr = in.data();
    std::size_t inLeft = in.size();
    char* outPtr = out.data();
    std::size_t outLeft = out.size();
    const std::size_t r = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    iconv_close(cd);
    // EILSEQ: a character without a form (or bad UTF-8); EINVAL: a sequence cut off at the end.
    // A conversion counted as irreversible is a substitute, not the character.
    if (r != 0 || inLeft != 0) return std::nullopt;
    out.resize(out.size() - outLeft);
    return out;
}

#endif
