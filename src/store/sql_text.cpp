#include "store/sql_text.hpp"

#include "core/civil_time.hpp"

#include <charconv>
#include <chrono>

namespace zav::sql_text {

void append_timestamp(std::string& _sql, const timestamp& _ts)
{
    using namespace std::chrono;
    const milliseconds count = _ts.get_time_since_epoch();
    // Whole seconds truncate toward zero and the millisecond part is the
    // remainder, as in timestamp::get_ts() and get_ms().
    const seconds whole = duration_cast<seconds>(count);
    const auto ms = static_cast<unsigned>((count - whole).count());
    const std::int64_t day = whole.count() / 86400 - (whole.count() % 86400 < 0);
    const auto second_of_day = static_cast<unsigned>(whole.count() - day * 86400);
    const libs::core::civil_date date = libs::core::civil_from_days(day);
    if (date.year < 0 || date.year > 9999) {
        // Outside the four-digit years no table stores; the slow path keeps
        // the exact text of the reference rendering.
        _sql += _ts.to_iso_8601_string(true);
        return;
    }

    using libs::core::put_digits;
    char buffer[23];
    char* p = put_digits(buffer, static_cast<unsigned>(date.year), 4);
    *p++ = '-';
    p = put_digits(p, date.month, 2);
    *p++ = '-';
    p = put_digits(p, date.day, 2);
    *p++ = ' ';
    p = put_digits(p, second_of_day / 3600, 2);
    *p++ = ':';
    p = put_digits(p, second_of_day / 60 % 60, 2);
    *p++ = ':';
    p = put_digits(p, second_of_day % 60, 2);
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
