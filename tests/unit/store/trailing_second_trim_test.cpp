#include "store/trailing_second_trim.hpp"

#include "support/positions.hpp"

#include <gtest/gtest.h>

#include <vector>

using zav::test::ms;
using zav::test::pos;

namespace {

// Positions in the given whole seconds, each with a distinct x.
zav::positions_vector in_seconds(const std::vector<long long>& _seconds)
{
    zav::positions_vector result;
    int x = 0;
    for (long long s : _seconds) result.push_back(pos("T1", ms(s * 1000 + 250), x++));
    return result;
}

std::vector<int> xs(const zav::positions_vector& _positions)
{
    std::vector<int> result;
    for (const auto& p : _positions) result.push_back(*p.x);
    return result;
}

}  // namespace

TEST(TrailingSecondTrimTest, RemovesOnlyTheTrailingRunOfTheLastSecond)
{
    EXPECT_EQ(xs(zav::trim_trailing_second(in_seconds({10, 10, 11, 12, 12}))), (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(xs(zav::trim_trailing_second(in_seconds({12, 10, 12}))), (std::vector<int>{0, 1}))
        << "a position of the last second before another second stays";
    EXPECT_TRUE(zav::trim_trailing_second(in_seconds({12, 12, 12})).empty());
    EXPECT_TRUE(zav::trim_trailing_second({}).empty());

    // Seconds are whole seconds of the instant, not a distance of 1000 ms.
    zav::positions_vector close = {pos("T1", ms(10999), 0), pos("T1", ms(11000), 1)};
    EXPECT_EQ(xs(zav::trim_trailing_second(close)), (std::vector<int>{0}));
}
