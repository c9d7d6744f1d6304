#pragma once

#include <cstdint>

namespace mariadb {

using u8 = std::uint8_t;
using u16 = std::uint16_t;
using u32 = std::uint32_t;
using u64 = std::uint64_t;
using s8 = std::int8_t;
using s32 = std::int32_t;

}  // namespace mariadb
