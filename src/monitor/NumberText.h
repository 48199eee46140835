#pragma once
// A number as the forms show it: printf-style format, one value, no locale.

#include <cstdio>
#include <string>

inline std::string NumberText(const char* fmt, double v) {
    char buf[64];
    const int n = std::snprintf(buf, sizeof buf, fmt, v);
    if (n <= 0) return {};
    return std::string(buf, static_cast<std::size_t>(n < 64 ? n : 63));
}
