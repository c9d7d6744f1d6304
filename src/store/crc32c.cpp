#include "store/crc32c.hpp"

#include <array>

namespace zav::crc32c {

namespace {

constexpr std::uint32_t polynomial = 0x82F63B78;

// Eight tables for eight bytes per step ("slicing by 8"): the state files
// are checked on every read and written after every piece, and a table of
// one byte per step would cost a few milliseconds per megabyte.
constexpr std::array<std::array<std::uint32_t, 256>, 8> make_tables()
{
    std::array<std::array<std::uint32_t, 256>, 8> tables{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t crc = i;
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ ((crc & 1) ? polynomial : 0);
        tables[0][i] = crc;
    }
    for (std::size_t t = 1; t < tables.size(); ++t)
        for (std::size_t i = 0; i < 256; ++i)
            tables[t][i] = (tables[t - 1][i] >> 8) ^ tables[0][tables[t - 1][i] & 0xFF];
    return tables;
}

constexpr auto tables = make_tables();

}  // namespace

std::uint32_t extend(std::uint32_t _crc, std::string_view _bytes)
{
    const auto* p = reinterpret_cast<const unsigned char*>(_bytes.data());
    std::size_t n = _bytes.size();
    std::uint32_t crc = ~_crc;
    while (n >= 8) {
        // Bytes are combined one by one, so the result does not depend on
        // the machine's byte order.
        const std::uint32_t low = crc ^ (std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 |
                                         std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24);
        crc = tables[7][low & 0xFF] ^ tables[6][(low >> 8) & 0xFF] ^ tables[5][(low >> 16) & 0xFF] ^
              tables[4][low >> 24] ^ tables[3][p[4]] ^ tables[2][p[5]] ^ tables[1][p[6]] ^ tables[0][p[7]];
        p += 8;
        n -= 8;
    }
    while (n-- > 0) crc = (crc >> 8) ^ tables[0][(crc ^ *p++) & 0xFF];
    return ~crc;
}

std::uint32_t value(std::string_view _bytes) { return extend(0, _bytes); }

}  // namespace zav::crc32c
