#include "positions_post_processor.hpp"

#include "core/exception.hpp"
#include "support/literal_pipeline.hpp"
#include "support/position_streams.hpp"
#include "support/positions.hpp"

#include <gtest/gtest.h>
#include <boost/optional/optional_io.hpp>

#include <random>
#include <tuple>

using namespace zav;
using namespace zav::test;
using ppp = positions_post_processor;

namespace {

// A piece whose last position, of another object, lies far enough ahead that
// everything before it is processed.
positions with_flush(positions _piece)
{
    _piece.push_back(pos("flush", _piece.back().ts.get_time_since_epoch() + ms(60000), 0, 0));
    return _piece;
}

// The positions of one object, in their order.
positions of_object(const positions& _positions, const std::string& _uid)
{
    positions kept;
    for (const position& p : _positions)
        if (p.trackable_uid == _uid) kept.push_back(p);
    return kept;
}

std::vector<long long> times_of(const positions& _positions)
{
    std::vector<long long> times;
    for (const position& p : _positions) times.push_back(p.ts.get_time_since_epoch().count());
    return times;
}

std::vector<int> xs_of(const positions& _positions)
{
    std::vector<int> xs;
    for (const position& p : _positions) xs.push_back(p.x.value_or(-99999));
    return xs;
}

}  // namespace

TEST(PositionsPostProcessorTest, MalformedCallsAreRefused)
{
    EXPECT_THROW(ppp::process_positions({}, {}), libs::core::check_failed_exception) << "empty piece";
    EXPECT_THROW(
        ppp::interpolate_positions({pos("A", ms(0), 1, 1), pos("A", ms(1), 1, 1)}, {pos("A", ms(0), 1, 1)}),
        libs::core::check_failed_exception)
        << "shorter interpolation list";
}

TEST(PositionsPostProcessorTest, NewestTenSecondsAreHeldBack)
{
    // Unordered on purpose: the piece is ordered first.
    const auto exactly = ppp::process_positions({}, {pos("B", ms(10000), 5, 5), pos("A", ms(0), 1, 1)});
    EXPECT_TRUE(exactly.processed_positions.empty()) << "10 000 ms before the newest is held back";
    EXPECT_TRUE(exactly.additional_data_.processed_positions.empty());
    EXPECT_EQ(times_of(exactly.additional_data_.not_processed_positions), (std::vector<long long>{0, 10000}));

    const auto beyond = ppp::process_positions({}, {pos("B", ms(10001), 5, 5), pos("A", ms(0), 1, 1)});
    EXPECT_EQ(beyond.processed_positions, (positions{pos("A", ms(0), 1, 1)}))
        << "10 001 ms before is processed";
    EXPECT_EQ(times_of(beyond.additional_data_.not_processed_positions), (std::vector<long long>{10001}));
    EXPECT_EQ(beyond.additional_data_.processed_positions, (positions{pos("A", ms(0), 1, 1)}));
}

TEST(PositionsPostProcessorTest, MedianOverSameObjectWithinOneSecond)
{
    EXPECT_EQ(ppp::median_filter({7}), 7);
    EXPECT_EQ(ppp::median_filter({5, 1, 3}), 3);
    EXPECT_EQ(ppp::median_filter({3, 4}), 4) << "halves round away from zero";
    EXPECT_EQ(ppp::median_filter({-3, -4}), -4);
    EXPECT_EQ(ppp::median_filter({4, 1, 3, 2}), 3);

    // Samples every 500 ms: the spike's window holds all five values.
    const auto spike = ppp::process_positions(
        {}, with_flush({pos("A", ms(0), 0, 0), pos("A", ms(500), 0, 0), pos("A", ms(1000), 100, 100),
                        pos("A", ms(1500), 0, 0), pos("A", ms(2000), 0, 0), pos("B", ms(1000), 100, 100)}));
    EXPECT_EQ(xs_of(of_object(spike.processed_positions, "A")), (std::vector<int>{0, 0, 0, 0, 0}));
    EXPECT_EQ(xs_of(of_object(spike.processed_positions, "B")), (std::vector<int>{100}))
        << "other objects' samples are never candidates";

    // 1000 ms away is inside the window, 1001 ms is not.
    const auto bound = ppp::process_positions(
        {}, with_flush({pos("A", ms(0), 0, -3), pos("A", ms(1000), 10, -4), pos("A", ms(2001), 100, 50)}));
    const auto bounded = of_object(bound.processed_positions, "A");
    EXPECT_EQ(xs_of(bounded), (std::vector<int>{5, 5, 100}));
    ASSERT_EQ(bounded.size(), 3u);
    EXPECT_EQ(bounded[0].y, -4);
    EXPECT_EQ(bounded[1].y, -4);

    // Without y a sample is passed through and serves no window.
    const auto missing =
        ppp::process_positions({}, with_flush({pos("A", ms(0), 10, 10), pos("A", ms(300), 500, boost::none),
                                               pos("A", ms(600), 20, 20)}));
    const auto a = of_object(missing.processed_positions, "A");
    ASSERT_EQ(a.size(), 3u);
    EXPECT_EQ(a[0].x, 15);
    EXPECT_EQ(a[1], pos("A", ms(300), 500, boost::none));
    EXPECT_EQ(a[2].x, 15);
}

TEST(PositionsPostProcessorTest, GapsAreFilledAtOneSecondSteps)
{
    const auto synthetic_times = [](long long _gap) {
        const auto r =
            ppp::process_positions({}, with_flush({pos("A", ms(0), 0, 0), pos("A", ms(_gap), 10, 10)}));
        std::vector<long long> times;
        for (const position& p : of_object(r.processed_positions, "A"))
            if (p.ts != timestamp(ms(0)) && p.ts != timestamp(ms(_gap)))
                times.push_back(p.ts.get_time_since_epoch().count());
        return times;
    };
    EXPECT_EQ(synthetic_times(1400), (std::vector<long long>{}));
    EXPECT_EQ(synthetic_times(1499), (std::vector<long long>{}));
    EXPECT_EQ(synthetic_times(1500), (std::vector<long long>{1000}));
    EXPECT_EQ(synthetic_times(2600), (std::vector<long long>{1000, 2000}));
    EXPECT_EQ(synthetic_times(4600), (std::vector<long long>{1000, 2000, 3000, 4000}));
    EXPECT_EQ(synthetic_times(5000), (std::vector<long long>{1000, 2000, 3000, 4000}));
    EXPECT_EQ(synthetic_times(5001), (std::vector<long long>{}));

    const auto gap_xs = [](int _from, int _to, long long _gap) {
        const auto r = ppp::process_positions(
            {}, with_flush({pos("A", ms(0), _from, _from), pos("A", ms(_gap), _to, -_to)}));
        return xs_of(of_object(r.processed_positions, "A"));
    };
    EXPECT_EQ(gap_xs(0, 10, 2600), (std::vector<int>{0, 3, 7, 10}));
    EXPECT_EQ(gap_xs(0, 3, 1500), (std::vector<int>{0, 2, 3})) << "1.5 rounds up";
    EXPECT_EQ(gap_xs(0, -3, 1500), (std::vector<int>{0, -2, -3})) << "-1.5 rounds away from zero";

    // Synthetic positions are copies of the earlier sample.
    position earlier = pos("A", ms(0), 0, 0);
    std::tie(earlier.trackable_id, earlier.mac_address, earlier.z, earlier.area_uid, earlier.project_uid,
             earlier.inactive) = std::tuple(11, "aa:bb", 5, "area-1", "project-1", 1);
    position later = pos("A", ms(1600), 10, 20);
    std::tie(later.trackable_id, later.z, later.area_uid, later.inactive) = std::tuple(12, 9, "area-2", 0);
    const auto r = ppp::process_positions({}, with_flush({earlier, later}));
    const auto a = of_object(r.processed_positions, "A");
    ASSERT_EQ(a.size(), 3u);
    position expected = earlier;
    expected.ts = timestamp(ms(1000));
    expected.x = 5;
    expected.y = 10;
    EXPECT_EQ(a[1], expected);

    // Only the latest earlier sample counts: 3500 follows 3000 closely, and
    // the gap from 0 is not considered for it.
    const auto no_reach_back = ppp::process_positions(
        {}, with_flush({pos("A", ms(0), 0, 0), pos("A", ms(3000), 0, 0), pos("A", ms(3500), 0, 0)}));
    EXPECT_EQ(times_of(of_object(no_reach_back.processed_positions, "A")),
              (std::vector<long long>{0, 1000, 2000, 3000, 3500}));
}

TEST(PositionsPostProcessorTest, CarryOverReachesAcrossPieces)
{
    // First piece: everything but A at 10 401 is processed.
    const auto first = ppp::process_positions({}, {pos("A", ms(0), 0, 0), pos("A", ms(400), 100, 100),
                                                   pos("B", ms(200), 10, 10), pos("A", ms(10401), 0, 0)});
    EXPECT_EQ(xs_of(first.processed_positions), (std::vector<int>{50, 10, 50}));
    EXPECT_EQ(xs_of(first.additional_data_.processed_positions), (std::vector<int>{0, 10, 100}));
    EXPECT_EQ(xs_of(first.additional_data_.processed_filtered_positions), (std::vector<int>{50, 10, 50}));

    // Next piece: the held-back part plus a later arrival; nothing is
    // processed, and the look-back must survive the empty call.
    positions piece = first.additional_data_.not_processed_positions;
    piece.push_back(pos("A", ms(10500), 0, 0));
    const auto idle = ppp::process_positions(first.additional_data_, piece);
    EXPECT_TRUE(idle.processed_positions.empty());
    EXPECT_EQ(idle.additional_data_.processed_positions, first.additional_data_.processed_positions);
    EXPECT_EQ(idle.additional_data_.processed_filtered_positions,
              first.additional_data_.processed_filtered_positions);
    EXPECT_EQ(times_of(idle.additional_data_.not_processed_positions),
              (std::vector<long long>{10401, 10500}));

    // A at 1300 has the carried raw A at 400 in its window (A at 0 is 1300 ms
    // away); the gap of B from 200 to 3200 is bridged from the carried
    // filtered sample.
    piece = idle.additional_data_.not_processed_positions;
    for (const position& p :
         {pos("A", ms(1300), 0, 0), pos("B", ms(3200), 40, 40), pos("A", ms(20000), 0, 0)})
        piece.push_back(p);
    const auto next = ppp::process_positions(idle.additional_data_, piece);
    EXPECT_EQ(times_of(next.processed_positions), (std::vector<long long>{1200, 1300, 2200, 3200}));
    EXPECT_EQ(xs_of(next.processed_positions), (std::vector<int>{20, 50, 30, 40}));
    EXPECT_EQ(times_of(next.additional_data_.processed_positions),
              (std::vector<long long>{0, 200, 400, 1300, 3200}));

    // The carry-over keeps what lies at most 10 000 ms before the newest.
    const auto trimmed = ppp::make_additional_data(
        {}, {pos("A", ms(0)), pos("A", ms(1)), pos("A", ms(10001))}, {pos("A", ms(0)), pos("A", ms(10000))});
    EXPECT_EQ(times_of(trimmed.processed_positions), (std::vector<long long>{1, 10001}));
    EXPECT_EQ(times_of(trimmed.processed_filtered_positions), (std::vector<long long>{0, 10000}));
}

TEST(PositionsPostProcessorTest, OutputDoesNotDependOnHowTheStreamIsCut)
{
    std::mt19937_64 rng(20240501);
    for (int round = 0; round < 40; ++round) {
        stream_shape shape;
        shape.objects = 1 + static_cast<int>(rng() % 12);
        shape.samples_per_object = 10 + static_cast<int>(rng() % 60);
        const positions stream = random_stream(rng, shape);
        const positions whole = as_multiset(run_in_pieces(ppp::process_positions, stream, {}));

        for (int cutting = 0; cutting < 4; ++cutting) {
            // Pieces from nothing at all to a few hundred positions.
            std::vector<std::size_t> sizes;
            std::size_t total = 0;
            while (true) {
                const std::size_t size = rng() % (cutting == 0 ? 4 : 200);
                if (total + size > stream.size()) break;
                sizes.push_back(size);
                total += size;
            }
            const positions pieces = as_multiset(run_in_pieces(ppp::process_positions, stream, sizes));
            ASSERT_EQ(pieces, whole) << "round " << round << ", " << sizes.size() << " pieces";
        }
    }
}

TEST(PositionsPostProcessorTest, FastScansMatchTheLiteralAlgorithm)
{
    std::mt19937_64 rng(7);
    for (int round = 0; round < 60; ++round) {
        stream_shape shape;
        shape.objects = 1 + static_cast<int>(rng() % 40);
        shape.samples_per_object = 5 + static_cast<int>(rng() % 40);
        shape.same_object_ties = round % 2 == 1;
        shape.missing_coordinate = 0.1;
        positions stream = random_stream(rng, shape);
        // Some positions arrive late, i.e. in a later piece than positions
        // newer than they are, so carry-overs and pieces overlap in time.
        for (std::size_t i = 0; i + 1 < stream.size(); ++i)
            if (rng() % 20 == 0) std::swap(stream[i], stream[std::min(stream.size() - 1, i + rng() % 300)]);

        ppp::additional_data fast_context;
        ppp::additional_data literal_context;
        std::size_t next = 0;
        for (int call = 0; next < stream.size(); ++call) {
            const std::size_t size = std::min(stream.size() - next, static_cast<std::size_t>(rng() % 250));
            positions piece = fast_context.not_processed_positions;
            piece.insert(piece.end(), stream.begin() + static_cast<std::ptrdiff_t>(next),
                         stream.begin() + static_cast<std::ptrdiff_t>(next + size));
            next += size;
            if (piece.empty()) continue;
            std::shuffle(piece.begin(), piece.end(), rng);
            auto fast = ppp::process_positions(fast_context, piece);
            auto literal = literal::process_positions(literal_context, piece);
            ASSERT_EQ(as_multiset(fast.processed_positions), as_multiset(literal.processed_positions))
                << "round " << round << ", call " << call;
            ASSERT_TRUE(std::is_sorted(fast.processed_positions.begin(), fast.processed_positions.end(),
                                       ppp::timestamp_less));
            // The carry-over has no free order: held back in time order, the
            // rest in the order of processing.
            ASSERT_EQ(fast.additional_data_.processed_positions,
                      literal.additional_data_.processed_positions);
            ASSERT_EQ(fast.additional_data_.processed_filtered_positions,
                      literal.additional_data_.processed_filtered_positions);
            ASSERT_EQ(as_multiset(fast.additional_data_.not_processed_positions),
                      as_multiset(literal.additional_data_.not_processed_positions));
            fast_context = std::move(fast.additional_data_);
            literal_context = std::move(literal.additional_data_);
        }

        // The two scans on their own, over sequences in no particular order
        // and with elements to process that differ from the ones they stand
        // for in the sequence.
        positions sequence = stream;
        std::shuffle(sequence.begin(), sequence.end(), rng);
        const std::size_t count = rng() % (sequence.size() + 1);
        const std::size_t added = sequence.size() - count;
        positions to_process(sequence.begin() + static_cast<std::ptrdiff_t>(added), sequence.end());
        for (position& p : to_process)
            if (rng() % 10 == 0) p = sequence[rng() % sequence.size()];
        ASSERT_EQ(ppp::filter_positions(to_process, sequence, added),
                  literal::filter_positions(to_process, sequence, added))
            << "round " << round;
        ASSERT_EQ(as_multiset(ppp::interpolate_positions(to_process, sequence)),
                  as_multiset(literal::interpolate_positions(to_process, sequence)))
            << "round " << round;
    }
}

TEST(PositionsPostProcessorTest, CarryOverMadeElsewhereIsStillHonoured)
{
    // A carry-over whose lists do not pair up (not one this pipeline makes)
    // is used as given: the raw list for medians, the filtered one for gaps.
    ppp::additional_data context;
    context.processed_positions = {pos("A", ms(0), 100, 100)};
    context.processed_filtered_positions = {pos("B", ms(0), 7, 7), pos("A", ms(100), 0, 0)};
    const auto r =
        ppp::process_positions(context, with_flush({pos("A", ms(900), 20, 20), pos("A", ms(3100), 20, 20)}));
    const auto a = of_object(r.processed_positions, "A");
    EXPECT_EQ(times_of(a), (std::vector<long long>{900, 1900, 3100}));
    EXPECT_EQ(xs_of(a), (std::vector<int>{60, 40, 20}));
}
