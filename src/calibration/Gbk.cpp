#include "calibration/Gbk.h"

#include <iconv.h>

#include <cstdint>
#include <vector>

std::optional<std::string> EncodeGbk(std::string_view utf8) {
    if (utf8.empty()) return std::string();
    iconv_t cd = iconv_open("GBK", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(static_cast<std::intptr_t>(-1))) return std::nullopt;
    std::string in(utf8);
    // GBK never takes more bytes than UTF-8 for the same text.
    std::vector<char> out(in.size() + 16);
    char* src = in.data();
    std::size_t srcLeft = in.size();
    char* dst = out.data();
    std::size_t dstLeft = out.size();
    const std::size_t rc = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    const bool ok = rc != static_cast<std::size_t>(-1) && srcLeft == 0 &&
                    iconv(cd, nullptr, nullptr, &dst, &dstLeft) != static_cast<std::size_t>(-1);
    iconv_close(cd);
    if (!ok) return std::nullopt;
    return std::string(out.data(), out.size() - dstLeft);
}
