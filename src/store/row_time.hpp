#pragma once

#include "core/timestamp.hpp"

#include "mariadb++/date_time.hpp"
#include "mariadb++/types.hpp"

namespace zav {

// The UTC instant of a DATETIME's calendar fields, with the milliseconds of
// _microseconds (integer division by 1000).
libs::core::timestamp to_timestamp(const mariadb::date_time& _date_time, int _microseconds);
// The same for a DATETIME of the binary protocol, which carries its
// microseconds.
libs::core::timestamp to_timestamp(const mariadb::date_time_fields& _fields);

// The UTC calendar fields of an instant. Whole seconds truncate toward zero
// and the millisecond part is the remainder, as in timestamp::get_ts() and
// get_ms().
struct utc_fields
{
    int year;
    unsigned month, day, hour, minute, second, millisecond;
};
utc_fields to_utc_fields(const libs::core::timestamp& _ts);

}  // namespace zav
