#include "link/TextEncoding.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <iconv.h>

#endif

#include <limits>
#include <vector>

#if defined(_WIN32)

// MinGW has no iconv; the system's own tables for code page 936 are the reference anyway.
std::optional<std::string> Utf8ToGbk(std::string_view utf8) {
    if (utf8.empty()) return std::string();
    if (utf8.size() > static_cast<std::size_t>(std::numeric_limits<int>::max() / 2)) return std::nullopt;
    const int inLength = static_cast<int>(utf8.size());
    const int wideLength = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), inLength, nullptr, 0);
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
    if (WideCharToMultiByte(936, WC_NO_BEST_FIT_CHARS, wide.data(), wideLength, out.data(), outLength, nullptr,
                            &usedDefault) != outLength ||
        usedDefault)
        return std::nullopt;
    return out;
}

#else

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
