#pragma once

#include <cstdint>

namespace mariadb {

using u8 = std::uint8_t;
using u16 = std::uint16_t;
using u32 = std::uint32_t;
using u64 = std::uint64_t;
using s8 = std::int8_t;
using s32 = std::int32_t;

// A calendar instant with microseconds, as DATETIME values travel in the
// binary protocol (parameters and result rows of prepared statements).
struct date_time_fields
{
    unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    unsigned long microsecond = 0;
};

}  // namespace mariadb
