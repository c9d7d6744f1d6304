#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace zav::crc32c {

// CRC-32C (Castagnoli, reflected polynomial 0x82F63B78, initial value and
// final xor 0xFFFFFFFF), the checksum of iSCSI and of leveldb's log records:
// value("123456789") is 0xE3069283. It catches every burst error of up to 32
// bits, so a flipped byte or a torn sector in a state file never passes.
std::uint32_t value(std::string_view _bytes);

// The same checksum over consecutive pieces: extend(extend(0, a), b) is
// value(a + b).
std::uint32_t extend(std::uint32_t _crc, std::string_view _bytes);

}  // namespace zav::crc32c
