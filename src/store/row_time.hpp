#pragma once

#include "core/timestamp.hpp"

#include "mariadb++/date_time.hpp"

namespace zav {

// The UTC instant of a DATETIME's calendar fields, with the milliseconds of
// _microseconds (integer division by 1000).
libs::core::timestamp to_timestamp(const mariadb::date_time& _date_time, int _microseconds);

}  // namespace zav
