#include "pipeline/gap_filler.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

using zav::gap_filler;
using zav::position_record;

namespace {

constexpr int int_min = std::numeric_limits<int>::min();
constexpr int int_max = std::numeric_limits<int>::max();

position_record sample(std::int64_t _ms, int _x, int _y)
{
    position_record r;
    r.ts = _ms;
    r.x = _x;
    r.y = _y;
    r.present = position_record::has_x | position_record::has_y;
    return r;
}

// The synthetic x values of a gap of _ms from _from to _to.
std::vector<int> xs_between(int _from, int _to, std::int64_t _ms)
{
    gap_filler filler;
    filler.fill(sample(0, _from, 0), sample(_ms, _to, 0));
    std::vector<int> xs;
    for (const position_record& r : filler.take()) xs.push_back(r.x);
    return xs;
}

// The value the interpolation defines: k/n of the way, worked out exactly
// and rounded half away from zero.
int exact(int _from, int _to, int _k, int _n)
{
    const long double way =
        static_cast<long double>(_k) * (static_cast<long double>(_to) - static_cast<long double>(_from)) / _n;
    return static_cast<int>(_from + std::llround(way));
}

}  // namespace

TEST(GapFillerTest, InterpolatesAsBeforeOnOrdinaryCoordinates)
{
    EXPECT_EQ(xs_between(0, 10, 3000), (std::vector<int>{3, 7}));
    EXPECT_EQ(xs_between(10, 0, 3000), (std::vector<int>{7, 3}));
    EXPECT_EQ(xs_between(-5, 5, 2000), (std::vector<int>{0}));
    EXPECT_EQ(xs_between(0, 3, 2000), (std::vector<int>{2})) << "1.5 rounds away from zero";
    EXPECT_EQ(xs_between(0, -3, 2000), (std::vector<int>{-2}));
}

// Any two int coordinates: no overflow (the sanitizer build checks), every
// value between the two ends and equal to the exact rounded value.
TEST(GapFillerTest, ExtremeCoordinatesGiveTheExactValueBetweenTheEnds)
{
    const int values[] = {int_min, int_min + 1, -1000000007, -1, 0, 1, 999999937, int_max - 1, int_max};
    for (const int from : values) {
        for (const int to : values) {
            for (const std::int64_t ms : {2000, 3000, 4000, 5000}) {
                const auto xs = xs_between(from, to, ms);
                const int n = static_cast<int>(ms / 1000);
                ASSERT_EQ(xs.size(), static_cast<std::size_t>(n - 1));
                for (int k = 1; k < n; ++k) {
                    const int x = xs[static_cast<std::size_t>(k - 1)];
                    EXPECT_EQ(x, exact(from, to, k, n)) << from << " to " << to << ", " << k << "/" << n;
                    EXPECT_GE(x, std::min(from, to));
                    EXPECT_LE(x, std::max(from, to));
                }
            }
        }
    }
    EXPECT_EQ(xs_between(int_min, int_max, 2000), (std::vector<int>{0}))
        << "halfway, 2^32 - 1 halved and rounded up";
}
