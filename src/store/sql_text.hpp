#pragma once

#include "core/timestamp.hpp"

#include <string>

namespace zav::sql_text {

// Appends _ts as "YYYY-MM-DD hh:mm:ss.mmm" (UTC), the same text as
// timestamp::to_iso_8601_string(true), without the C library's calendar
// functions, which dominate the cost of rendering large statements.
void append_timestamp(std::string& _sql, const timestamp& _ts);

void append_integer(std::string& _sql, long long _value);

}  // namespace zav::sql_text
