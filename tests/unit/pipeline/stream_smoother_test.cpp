#include "pipeline/stream_smoother.hpp"

#include "support/literal_pipeline.hpp"
#include "support/position_streams.hpp"
#include "support/positions.hpp"

#include <gtest/gtest.h>

#include <random>

using namespace zav;
using namespace zav::test;

namespace {

// Pushes _stream into a smoother in pieces of random sizes, the last piece
// ending with a far-future position, and checks after every piece that output
// and state are those of the literal pipeline called with the held-back
// positions in front of each piece. _late_share of the positions are swapped
// with one up to 300 places later, so that some arrive after newer ones were
// processed or while newer ones are held back.
void check_against_literal(std::mt19937_64& _rng, const stream_shape& _shape, unsigned _late_in_1000)
{
    positions stream = random_stream(_rng, _shape);
    for (std::size_t i = 0; i + 1 < stream.size(); ++i)
        if (_rng() % 1000 < _late_in_1000)
            std::swap(stream[i], stream[std::min(stream.size() - 1, i + _rng() % 300)]);

    stream_smoother smoother;
    positions_post_processor::additional_data literal_context;
    std::size_t next = 0;
    for (int call = 0; next <= stream.size(); ++call) {
        const std::size_t size = std::min(stream.size() - next, static_cast<std::size_t>(_rng() % 40));
        positions arrived(stream.begin() + static_cast<std::ptrdiff_t>(next),
                          stream.begin() + static_cast<std::ptrdiff_t>(next + size));
        next += size;
        if (next == stream.size()) {
            arrived.push_back(pos("flush", stream.back().ts.get_time_since_epoch() + ms(1000000), 0, 0));
            ++next;
        }
        std::shuffle(arrived.begin(), arrived.end(), _rng);
        positions piece = literal_context.not_processed_positions;
        piece.insert(piece.end(), arrived.begin(), arrived.end());
        if (piece.empty()) continue;

        positions output;
        smoother.push(arrived, [&](const position& _p) { output.push_back(_p); });
        auto literal = literal::process_positions(literal_context, piece);
        ASSERT_EQ(as_multiset(output), as_multiset(literal.processed_positions)) << "call " << call;
        ASSERT_TRUE(std::is_sorted(output.begin(), output.end(), positions_post_processor::timestamp_less));
        ASSERT_EQ(smoother.carried_raw(), literal.additional_data_.processed_positions) << "call " << call;
        ASSERT_EQ(smoother.carried_filtered(), literal.additional_data_.processed_filtered_positions)
            << "call " << call;
        ASSERT_EQ(as_multiset(smoother.held_back()),
                  as_multiset(literal.additional_data_.not_processed_positions))
            << "call " << call;
        literal_context = std::move(literal.additional_data_);
    }
}

}  // namespace

// The per-object state kept from piece to piece gives what the literal
// pipeline computes from the whole carry-over and the re-sent held-back part:
// in time order (the path that indexes each position once) and with late
// arrivals and unordered pieces (the path that rebuilds the state).
TEST(StreamSmootherTest, PiecesPushedInMatchTheLiteralPipeline)
{
    std::mt19937_64 rng(314);
    for (int round = 0; round < 60; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        stream_shape shape;
        shape.objects = 1 + static_cast<int>(rng() % 30);
        shape.samples_per_object = 5 + static_cast<int>(rng() % 50);
        shape.same_object_ties = round % 2 == 1;
        shape.missing_coordinate = 0.1;
        check_against_literal(rng, shape, round % 3 == 0 ? 0 : 50);
    }
}

// A position dated far ahead, once processed, keeps the look-back of the
// other objects: A's median at 2.9 s still sees A at 2 s from the piece before.
TEST(StreamSmootherTest, PositionFarAheadTakesNoLookBack)
{
    stream_smoother smoother;
    positions output;
    const auto collect = [&](const position& _p) { output.push_back(_p); };
    smoother.push({pos("F", ms(100000), 0, 0), pos("F", ms(200000), 0, 0), pos("A", ms(0), 0, 0)}, collect);
    smoother.push({pos("A", ms(1000), 0, 0), pos("A", ms(1500), 0, 0), pos("A", ms(2000), 0, 0)}, collect);
    smoother.push({pos("A", ms(2900), 90, 0), pos("A", ms(6000), 90, 0), pos("flush", ms(1200000), 0, 0)},
                  collect);
    std::vector<std::pair<long long, int>> a_from_2900;
    for (const position& p : output)
        if (p.trackable_uid == "A" && p.ts.get_time_since_epoch().count() >= 2900)
            a_from_2900.emplace_back(p.ts.get_time_since_epoch().count(), *p.x);
    EXPECT_EQ(a_from_2900,
              (std::vector<std::pair<long long, int>>{{2900, 45}, {3900, 60}, {4900, 75}, {6000, 90}}));
}
