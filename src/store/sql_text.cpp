#include "store/sql_text.hpp"

#include <charconv>
#include <chrono>

namespace zav::sql_text {

namespace {

char* put_digits(char* _out, unsigned _value, int _width)
{
    for (int i = _width - 1; i >= 0; --i) {
        _out[i] = static_cast<char>('0' + _value % 10);
        _value /= 10;
    }
    return _out + _width;
}

}  // namespace

void append_timestamp(std::string& _sql, const timestamp& _ts)
{
    using namespace std::chrono;
    const milliseconds count = _ts.get_time_since_epoch();
    // Whole seconds truncate toward zero and the millisecond part is the
    // remainder, as in timestamp::get_ts() and get_ms().
    const seconds whole = duration_cast<seconds>(count);
    const auto ms = static_cast<unsigned>((count - whole).count());
    const sys_days day = floor<days>(sys_seconds(whole));
    const year_month_day date(day);
    const hh_mm_ss<seconds> clock(whole - day.time_since_epoch());
    const int year = static_cast<int>(date.year());
    if (year < 0 || year > 9999) {
        // Outside the four-digit years no table stores; the slow path keeps
        // the exact text of the reference rendering.
        _sql += _ts.to_iso_8601_string(true);
        return;
    }

    char buffer[23];
    char* p = put_digits(buffer, static_cast<unsigned>(year), 4);
    *p++ = '-';
    p = put_digits(p, static_cast<unsigned>(date.month()), 2);
    *p++ = '-';
    p = put_digits(p, static_cast<unsigned>(date.day()), 2);
    *p++ = ' ';
    p = put_digits(p, static_cast<unsigned>(clock.hours().count()), 2);
    *p++ = ':';
    p = put_digits(p, static_cast<unsigned>(clock.minutes().count()), 2);
    *p++ = ':';
    p = put_digits(p, static_cast<unsigned>(clock.seconds().count()), 2);
    *p++ = '.';
    put_digits(p, ms, 3);
    _sql.append(buffer, sizeof buffer);
}

void append_integer(std::string& _sql, long long _value)
{
    char buffer[24];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, _value);
    _sql.append(buffer, result.ptr);
}

}  // namespace zav::sql_text
