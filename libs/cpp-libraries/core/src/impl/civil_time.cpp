#include "core/civil_time.hpp"

#include <charconv>

namespace zav::libs::core {

namespace {

// Floor division: the calendar works on days and seconds before 1970 too.
std::int64_t floor_div(std::int64_t _a, std::int64_t _b)
{
    return _a / _b - (_a % _b != 0 && (_a < 0) != (_b < 0));
}

}  // namespace

std::int64_t days_from_civil(std::int64_t _year, std::int64_t _month, std::int64_t _day)
{
    const std::int64_t month_index = _month - 1;
    std::int64_t year = _year + floor_div(month_index, 12);
    const std::int64_t month = month_index - floor_div(month_index, 12) * 12 + 1;
    // Years counted from March, so that the leap day ends a year.
    year -= month <= 2;
    const std::int64_t era = floor_div(year, 400);
    const std::int64_t year_of_era = year - era * 400;
    const std::int64_t day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5;
    const std::int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    return era * 146097 + day_of_era - 719468 + _day - 1;
}

civil_date civil_from_days(std::int64_t _days)
{
    _days += 719468;
    const std::int64_t era = floor_div(_days, 146097);
    const auto day_of_era = static_cast<unsigned>(_days - era * 146097);
    const unsigned year_of_era =
        (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
    const unsigned day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    const unsigned month_index = (5 * day_of_year + 2) / 153;
    const unsigned day = day_of_year - (153 * month_index + 2) / 5 + 1;
    const unsigned month = month_index < 10 ? month_index + 3 : month_index - 9;
    return {static_cast<std::int64_t>(year_of_era) + era * 400 + (month <= 2), month, day};
}

std::int64_t seconds_from_civil(std::int64_t _year, std::int64_t _month, std::int64_t _day,
                                std::int64_t _hour, std::int64_t _minute, std::int64_t _second)
{
    return days_from_civil(_year, _month, _day) * 86400 + _hour * 3600 + _minute * 60 + _second;
}

char* put_digits(char* _out, unsigned _value, int _width)
{
    for (int i = _width - 1; i >= 0; --i) {
        _out[i] = static_cast<char>('0' + _value % 10);
        _value /= 10;
    }
    return _out + _width;
}

char* put_date_time(char* _out, std::int64_t _seconds)
{
    const std::int64_t days = floor_div(_seconds, 86400);
    const auto second_of_day = static_cast<unsigned>(_seconds - days * 86400);
    const civil_date date = civil_from_days(days);
    // Years of four digits are by far the most common; others get at least
    // four as well (zeros in front), and a sign when negative.
    if (date.year >= 0 && date.year <= 9999) {
        _out = put_digits(_out, static_cast<unsigned>(date.year), 4);
    } else if (date.year < 0 && date.year > -10000) {
        *_out++ = '-';
        _out = put_digits(_out, static_cast<unsigned>(-date.year), 4);
    } else {
        _out = std::to_chars(_out, _out + 24, date.year).ptr;
    }
    *_out++ = '-';
    _out = put_digits(_out, date.month, 2);
    *_out++ = '-';
    _out = put_digits(_out, date.day, 2);
    *_out++ = ' ';
    _out = put_digits(_out, second_of_day / 3600, 2);
    *_out++ = ':';
    _out = put_digits(_out, second_of_day / 60 % 60, 2);
    *_out++ = ':';
    return put_digits(_out, second_of_day % 60, 2);
}

}  // namespace zav::libs::core
