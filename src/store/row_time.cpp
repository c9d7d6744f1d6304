#include "store/row_time.hpp"

#include "core/civil_time.hpp"

#include <chrono>
#include <cstdint>

namespace zav {

libs::core::timestamp to_timestamp(const mariadb::date_time& _date_time, int _microseconds)
{
    // The calendar arithmetic of timegm, without its cost per row: fields out
    // of range (a day 0, a second 60) carry over the same way.
    const std::int64_t seconds =
        libs::core::seconds_from_civil(_date_time.year(), _date_time.month(), _date_time.day(),
                                       _date_time.hour(), _date_time.minute(), _date_time.second());
    const std::chrono::milliseconds count(seconds * 1000 + _microseconds / 1000);
    return libs::core::timestamp(count);
}

}  // namespace zav
