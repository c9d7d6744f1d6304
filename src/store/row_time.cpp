#include "store/row_time.hpp"

#include "core/civil_time.hpp"

#include <chrono>
#include <cstdint>

namespace zav {

libs::core::timestamp to_timestamp(const mariadb::date_time& _date_time, int _microseconds)
{
    return to_timestamp(mariadb::date_time_fields{_date_time.year(), _date_time.month(), _date_time.day(),
                                                  _date_time.hour(), _date_time.minute(), _date_time.second(),
                                                  static_cast<unsigned long>(_microseconds)});
}

namespace {

// Rows come in time order, thousands per day: the day count of a date, and
// the date of a day count, are worked out once per day and thread.
std::int64_t days_of(std::int64_t _year, std::int64_t _month, std::int64_t _day)
{
    struct entry
    {
        std::int64_t year, month, day, days;
    };
    thread_local entry last{1970, 1, 1, 0};
    if (_year != last.year || _month != last.month || _day != last.day)
        last = {_year, _month, _day, libs::core::days_from_civil(_year, _month, _day)};
    return last.days;
}

libs::core::civil_date date_of(std::int64_t _days)
{
    struct entry
    {
        std::int64_t days;
        libs::core::civil_date date;
    };
    thread_local entry last{0, {1970, 1, 1}};
    if (_days != last.days) last = {_days, libs::core::civil_from_days(_days)};
    return last.date;
}

}  // namespace

libs::core::timestamp to_timestamp(const mariadb::date_time_fields& _fields)
{
    // The calendar arithmetic of timegm, without its cost per row: fields out
    // of range (a day 0, a second 60) carry over the same way, as in
    // libs::core::seconds_from_civil.
    const std::int64_t seconds = days_of(static_cast<int>(_fields.year), _fields.month, _fields.day) * 86400 +
                                 std::int64_t{_fields.hour} * 3600 + std::int64_t{_fields.minute} * 60 +
                                 std::int64_t{_fields.second};
    const std::chrono::milliseconds count(seconds * 1000 +
                                          static_cast<std::int64_t>(_fields.microsecond / 1000));
    return libs::core::timestamp(count);
}

}  // namespace zav

namespace zav {

utc_fields to_utc_fields(const libs::core::timestamp& _ts)
{
    using namespace std::chrono;
    const milliseconds count = _ts.get_time_since_epoch();
    // As sql_text renders times: whole seconds truncate toward zero, the
    // millisecond part is the remainder, days are floored.
    const seconds whole = duration_cast<seconds>(count);
    const std::int64_t day = whole.count() / 86400 - (whole.count() % 86400 < 0);
    const auto second_of_day = static_cast<unsigned>(whole.count() - day * 86400);
    const libs::core::civil_date date = date_of(day);
    return {static_cast<int>(date.year),
            date.month,
            date.day,
            second_of_day / 3600,
            second_of_day / 60 % 60,
            second_of_day % 60,
            static_cast<unsigned>((count - whole).count())};
}

}  // namespace zav
