#include "toolkit/DateTime.h"

#include <cmath>

namespace vantor {

namespace {

// Days from 1 January 1970 in the proleptic Gregorian calendar, for any year.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

constexpr std::int64_t UnixEpochDay = 25569; // 1 January 1970 as a date-time

} // namespace

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second, int msec) {
    const std::int64_t days =
        DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) +
        UnixEpochDay;
    const double ms = ((hour * 60.0 + minute) * 60.0 + second) * 1000.0 + msec;
    return static_cast<double>(days) + ms / MSecsPerDay;
}

TimeOfDay DecodeTime(TDateTime value) {
    TimeOfDay t;
    if (!std::isfinite(value)) return t;
    double frac = value - std::floor(value);
    auto ms = static_cast<std::int64_t>(std::llround(frac * MSecsPerDay));
    // A fraction that rounds up to a whole day is midnight of the next day.
    if (ms >= static_cast<std::int64_t>(MSecsPerDay)) ms = 0;
    if (ms < 0) ms = 0;
    t.msec = static_cast<int>(ms % 1000);
    ms /= 1000;
    t.second = static_cast<int>(ms % 60);
    ms /= 60;
    t.minute = static_cast<int>(ms % 60);
    t.hour = static_cast<int>(ms / 60);
    return t;
}

std::string FormatLongTime(TDateTime value) { return FormatLongTime(DecodeTime(value)); }

std::string FormatLongTime(const TimeOfDay& time) {
    // Every log line has one: digits by hand, not through snprintf.
    std::string text = "00:00:00";
    auto put = [&text](std::size_t at, int value) {
        text[at] = static_cast<char>('0' + value / 10 % 10);
        text[at + 1] = static_cast<char>('0' + value % 10);
    };
    put(0, time.hour);
    put(3, time.minute);
    put(6, time.second);
    return text;
}

} // namespace vantor
