#include "link/WallClock.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

std::string FormatClockTime(const LocalTime& t) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", t.hour, t.minute, t.second);
    return buf;
}

std::string FormatIsoTime(const LocalTime& t) {
    const int off = std::abs(t.utcOffsetMinutes);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", t.year, t.month, t.day, t.hour,
                  t.minute, t.second, t.utcOffsetMinutes < 0 ? '-' : '+', off / 60, off % 60);
    return buf;
}

LocalTime SystemWallClock::Now() const {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    LocalTime t;
#if defined(_WIN32)
    localtime_s(&local, &now);
    std::tm utc{};
    gmtime_s(&utc, &now);
    // The offset is the difference of the two broken-down times, read as if both were UTC.
    utc.tm_isdst = local.tm_isdst;
    t.utcOffsetMinutes = static_cast<int>(std::difftime(std::mktime(&local), std::mktime(&utc)) / 60);
#else
    localtime_r(&now, &local);
    t.utcOffsetMinutes = static_cast<int>(local.tm_gmtoff / 60);
#endif
    t.year = local.tm_year + 1900;
    t.month = local.tm_mon + 1;
    t.day = local.tm_mday;
    t.hour = local.tm_hour;
    t.minute = local.tm_min;
    t.second = local.tm_sec;
    return t;
}
