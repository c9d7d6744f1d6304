#include "pipeline/sliding_median.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

using zav::sliding_median;

namespace {

int median(std::vector<int> _sorted) { return sliding_median::of_sorted(_sorted); }

constexpr int int_min = std::numeric_limits<int>::min();
constexpr int int_max = std::numeric_limits<int>::max();

}  // namespace

// The mean of the two middle values is exact for any ints: no overflow, and
// halves round away from zero.
TEST(SlidingMedianTest, MeanOfTheMiddleValuesForAnyInts)
{
    EXPECT_EQ(median({3, 4}), 4);
    EXPECT_EQ(median({-4, -3}), -4);
    EXPECT_EQ(median({1, 2, 3}), 2);
    EXPECT_EQ(median({int_max - 1, int_max}), int_max);
    EXPECT_EQ(median({int_max, int_max}), int_max);
    EXPECT_EQ(median({int_min, int_min}), int_min);
    EXPECT_EQ(median({int_min, int_min + 1}), int_min);
    EXPECT_EQ(median({int_min, int_max}), -1) << "-0.5 rounds away from zero";
    EXPECT_EQ(median({int_min, 0, int_max, int_max}), int_max / 2 + 1) << "1073741823.5 rounds up";
}
