#include "pipeline/time_order.hpp"

#include "support/positions.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

using namespace zav;
using zav::test::ms;
using zav::test::pos;

TEST(TimeOrderTest, SortsInPlaceKeepingTheOrderOfEqualTimes)
{
    // Pieces from in order to shuffled, with many equal times: the result is
    // what a stable sort gives, and the piece keeps its buffer.
    std::mt19937 random(3);
    for (const int disorder : {0, 1, 10, 100}) {
        positions_vector piece;
        for (int i = 0; i < 2000; ++i) {
            const int late = std::uniform_int_distribution<int>(0, 99)(random) < disorder
                                 ? std::uniform_int_distribution<int>(0, 50)(random)
                                 : 0;
            piece.push_back(pos("T" + std::to_string(i), ms(i / 3 - late), i, 0));
        }
        positions_vector expected = piece;
        std::stable_sort(expected.begin(), expected.end(),
                         [](const position& _l, const position& _r) { return _l.ts < _r.ts; });
        const position* buffer = piece.data();
        const positions_vector sorted = sorted_by_time(std::move(piece));
        EXPECT_EQ(sorted, expected) << "disorder " << disorder;
        EXPECT_EQ(sorted.data(), buffer) << "disorder " << disorder;
    }
}
