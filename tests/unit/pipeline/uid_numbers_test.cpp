#include "pipeline/uid_numbers.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using zav::uid_numbers;

TEST(UidNumbersTest, EqualBytesShareANumberAndNothingElseDoes)
{
    // Lengths around the inline limit and the word boundary, texts that
    // differ only in their last byte, in the second word, by a zero byte or
    // by length alone, and enough of them to make the table grow.
    std::vector<std::string> uids = {"",
                                     "a",
                                     std::string("a\0", 2),
                                     "0x677C",
                                     "12345678",
                                     "123456789",
                                     "1234567812345678",
                                     "1234567812345679",
                                     "12345678123456789",
                                     "12345678123456780",
                                     "a-uid-longer-than-sixteen-bytes"};
    for (int i = 0; i < 500; ++i) uids.push_back("tag-" + std::to_string(i));

    uid_numbers numbers;
    for (std::uint32_t n = 0; n < uids.size(); ++n) {
        EXPECT_EQ(numbers.find(uids[n]), uid_numbers::none) << uids[n];
        EXPECT_EQ(numbers.add(uids[n], n), std::make_pair(n, true)) << uids[n];
    }
    for (std::uint32_t n = 0; n < uids.size(); ++n) {
        const std::string copy = uids[n];  // other storage, same bytes
        EXPECT_EQ(numbers.find(copy), n) << copy;
        EXPECT_EQ(numbers.add(copy, 9999), std::make_pair(n, false)) << copy;
    }
    EXPECT_EQ(numbers.find("tag-500"), uid_numbers::none);
    EXPECT_EQ(numbers.find("a-uid-longer-than-sixteen-bytez"), uid_numbers::none);
}
