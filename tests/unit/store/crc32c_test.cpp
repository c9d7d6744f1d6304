#include "store/crc32c.hpp"

#include <gtest/gtest.h>

#include <string>

namespace {

// One bit at a time, straight from the definition.
std::uint32_t reference(const std::string& _bytes)
{
    std::uint32_t crc = 0xFFFFFFFF;
    for (unsigned char c : _bytes) {
        crc ^= c;
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ ((crc & 1) ? 0x82F63B78 : 0);
    }
    return ~crc;
}

}  // namespace

TEST(Crc32cTest, MatchesTheStandardCheckValueAndTheDefinitionAtEveryLengthAndSplit)
{
    EXPECT_EQ(zav::crc32c::value("123456789"), 0xE3069283u);
    EXPECT_EQ(zav::crc32c::value(""), 0u);

    // Lengths around the eight-byte steps, every byte value, any split.
    std::string bytes;
    for (int i = 0; i < 300; ++i) bytes += static_cast<char>((i * 37 + 11) & 0xFF);
    for (std::size_t length = 0; length <= bytes.size(); length += (length < 40 ? 1 : 29)) {
        const std::string piece = bytes.substr(0, length);
        EXPECT_EQ(zav::crc32c::value(piece), reference(piece)) << length << " bytes";
        const std::size_t split = length / 3;
        EXPECT_EQ(zav::crc32c::extend(zav::crc32c::value(piece.substr(0, split)), piece.substr(split)),
                  reference(piece))
            << length << " bytes split at " << split;
    }
}
