#include "store/row_time.hpp"

#include <chrono>

namespace zav {

libs::core::timestamp to_timestamp(const mariadb::date_time& _date_time, int _microseconds)
{
    using namespace std::chrono;
    // The calendar arithmetic of timegm, without its cost per row: fields out
    // of range (a day 0, a second 60) carry over the same way.
    const year_month month_start = year(_date_time.year()) / January + months(_date_time.month() - 1);
    const sys_days day = sys_days(month_start / 1) + days(_date_time.day() - 1);
    const milliseconds count = duration_cast<milliseconds>(day.time_since_epoch()) +
                               hours(_date_time.hour()) + minutes(_date_time.minute()) +
                               seconds(_date_time.second()) + milliseconds(_microseconds / 1000);
    return libs::core::timestamp(count);
}

}  // namespace zav
