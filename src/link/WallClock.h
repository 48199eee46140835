#pragma once
// Dates and times that end up in files and on screen (a report's date, a log line's time,
// "readings stopped at 14:02:31"): the local calendar time, injectable in tests. Waits
// never use this clock; they go through Clock.

#include <string>

struct LocalTime {
    int year = 1970;
    int month = 1;  // 1..12
    int day = 1;    // 1..31
    int hour = 0;
    int minute = 0;
    int second = 0;
    int utcOffsetMinutes = 0;  // east of Greenwich positive
};

// "14:02:31".
std::string FormatClockTime(const LocalTime& t);
// "2026-12-09T14:02:31+01:00" (ISO 8601 with the offset).
std::string FormatIsoTime(const LocalTime& t);

// Thread contract: Now() may be called from any thread.
class WallClock {
public:
    virtual LocalTime Now() const = 0;
    virtual ~WallClock() = default;
};

// The machine's local time.
class SystemWallClock final : public WallClock {
public:
    LocalTime Now() const override;
};

// A clock that shows what a test sets.
class FixedWallClock final : public WallClock {
public:
    explicit FixedWallClock(LocalTime t = {}) : t_(t) {}
    void Set(LocalTime t) { t_ = t; }
    LocalTime Now() const override { return t_; }

private:
    LocalTime t_;
};
