#pragma once
// Date-times as the gateway keeps them: a double counting days since
// 30 December 1899, the fraction being the time of day.  Ages in milliseconds
// are compared as the difference of two date-times against ms / 86400000.
#include <cstdint>
#include <string>

namespace vantor {

using TDateTime = double;

inline constexpr double MSecsPerDay = 86400000.0;

struct TimeOfDay {
    int hour = 0, minute = 0, second = 0, msec = 0;
};

// Builds a date-time from calendar fields (proleptic Gregorian calendar).
TDateTime EncodeDateTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
                         int msec = 0);
// The time of day of a date-time, rounded to the millisecond.
TimeOfDay DecodeTime(TDateTime value);
// "HH:MM:SS", the long time format of the log.
std::string FormatLongTime(TDateTime value);
std::string FormatLongTime(const TimeOfDay& time);
// True when `then` lies no more than `ms` milliseconds before `now`.
inline bool WithinMs(TDateTime now, TDateTime then, double ms) {
    return now - then <= ms / MSecsPerDay;
}

} // namespace vantor
