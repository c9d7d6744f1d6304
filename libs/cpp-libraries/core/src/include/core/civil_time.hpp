#pragma once

#include <cstdint>

namespace zav::libs::core {

// UTC calendar arithmetic on the proleptic Gregorian calendar, for every part
// that turns instants into date texts or date fields into instants: the same
// results as timegm and gmtime_r, without their cost per call (no time zone
// lookups, no locks) and for any 64-bit day count.

struct civil_date
{
    std::int64_t year;
    unsigned month;  // 1..12
    unsigned day;    // 1..31
};

// Days from 1970-01-01 to the given date. A month outside 1..12 carries into
// the year and a day outside the month is an offset from its first day, as
// timegm normalises them (month 13 is January of the next year).
std::int64_t days_from_civil(std::int64_t _year, std::int64_t _month, std::int64_t _day);

// The date of a count of days since 1970-01-01.
civil_date civil_from_days(std::int64_t _days);

// Seconds since the epoch of date and time fields read as UTC, normalised as
// timegm normalises them (fields below a month are plain offsets).
std::int64_t seconds_from_civil(std::int64_t _year, std::int64_t _month, std::int64_t _day,
                                std::int64_t _hour, std::int64_t _minute, std::int64_t _second);

// Writes _value as exactly _width decimal digits (the lowest ones, zeros in
// front) and returns the end.
char* put_digits(char* _out, unsigned _value, int _width);

// Writes "YYYY-MM-DD hh:mm:ss" of whole seconds since the epoch as strftime's
// "%Y-%m-%d %H:%M:%S" renders gmtime_r's fields, except that the year always
// has at least four digits (year 1 is "0001", where strftime writes "1") and a
// sign when negative. At most 30 characters; returns the end.
char* put_date_time(char* _out, std::int64_t _seconds);

}  // namespace zav::libs::core
