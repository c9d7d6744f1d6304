#pragma once

// Generated streams of positions for property tests, and running a stream
// through the pipeline piece by piece the way its callers do.

#include "positions_post_processor.hpp"

#include <algorithm>
#include <array>
#include <functional>
#include <ostream>
#include <random>
#include <string>
#include <tuple>

namespace zav {

// Lets test failures show positions readably.
inline void PrintTo(const position& _p, std::ostream* _os)
{
    const auto opt = [&](const auto& _v, const char* _after) { (_v ? *_os << *_v : *_os << "-") << _after; };
    *_os << "{" << _p.trackable_uid << " #" << _p.trackable_id << " " << _p.ts.get_time_since_epoch().count()
         << " ";
    opt(_p.x, ","), opt(_p.y, ","), opt(_p.z, " "), opt(_p.mac_address, " "), opt(_p.area_uid, " ");
    opt(_p.project_uid, " "), opt(_p.inactive, "}");
}

}  // namespace zav

namespace zav::test {

using positions = positions_post_processor::positions;

struct stream_shape
{
    int objects = 5;
    int samples_per_object = 40;
    // Also steps of 0 ms, i.e. two samples of one object at the same time.
    bool same_object_ties = false;
    // Probability that a sample lacks x, and likewise y.
    double missing_coordinate = 0.05;
};

// A time-ordered stream of interleaved objects. Steps between an object's
// samples cluster around the bounds of the median window and of the gaps that
// are filled; objects start at multiples of 500 ms, so different objects
// share times. Every sample has its own trackable_id, so a synthetic position
// shows which sample it was copied from.
inline positions random_stream(std::mt19937_64& _rng, const stream_shape& _shape)
{
    static constexpr std::array<int, 20> steps{100,  250,  500,  500,  999,  1000, 1000, 1001, 1499, 1500,
                                               1501, 2000, 2499, 2500, 2600, 4600, 4999, 5000, 5001, 7000};
    std::uniform_int_distribution<std::size_t> pick_step(0, steps.size() - 1);
    std::uniform_int_distribution<int> coordinate(-1000, 1000);
    std::uniform_int_distribution<int> start(0, 6);
    std::bernoulli_distribution missing(_shape.missing_coordinate);
    std::bernoulli_distribution tie(_shape.same_object_ties ? 0.05 : 0.0);
    std::bernoulli_distribution uneven(0.2);
    std::uniform_int_distribution<int> any_step(1, 6000);

    positions stream;
    long long serial = 0;
    for (int o = 0; o < _shape.objects; ++o) {
        const std::string uid = "T" + std::to_string(o);
        long long t = 1'700'000'000'000LL + 500LL * start(_rng);
        for (int s = 0; s < _shape.samples_per_object; ++s) {
            position p;
            p.trackable_id = ++serial;
            p.trackable_uid = uid;
            p.ts = timestamp(std::chrono::milliseconds(t));
            if (!missing(_rng)) p.x = coordinate(_rng);
            if (!missing(_rng)) p.y = coordinate(_rng);
            p.z = static_cast<int>(serial % 7);
            if (serial % 3 == 0) p.area_uid = "area-" + std::to_string(serial);
            p.inactive = static_cast<short>(serial % 2);
            stream.push_back(std::move(p));
            t += tie(_rng) ? 0 : (uneven(_rng) ? any_step(_rng) : steps[pick_step(_rng)]);
        }
    }
    std::stable_sort(stream.begin(), stream.end(), positions_post_processor::timestamp_less);
    return stream;
}

using pipeline = std::function<positions_post_processor::post_processing_result(
    const positions_post_processor::additional_data&, positions)>;

// Runs _stream through _process in pieces of the given numbers of newly
// arrived positions (the last piece takes the rest), each piece being the
// previous call's held-back part followed by the new positions, as batch mode
// does. The last piece ends with a far-future position of another object, so
// that everything of the stream is processed. Returns all output.
inline positions run_in_pieces(const pipeline& _process, const positions& _stream,
                               const std::vector<std::size_t>& _piece_sizes)
{
    positions output;
    positions_post_processor::additional_data context;
    std::size_t next = 0;
    for (std::size_t i = 0; i <= _piece_sizes.size(); ++i) {
        const std::size_t size = i < _piece_sizes.size() ? _piece_sizes[i] : _stream.size() - next;
        positions piece = context.not_processed_positions;
        piece.insert(piece.end(), _stream.begin() + static_cast<std::ptrdiff_t>(next),
                     _stream.begin() + static_cast<std::ptrdiff_t>(next + size));
        next += size;
        if (i == _piece_sizes.size()) {
            position flush;
            flush.trackable_uid = "flush";
            flush.ts = _stream.back().ts + std::chrono::seconds(1000);
            piece.push_back(flush);
        }
        if (piece.empty()) continue;
        auto result = _process(context, std::move(piece));
        output.insert(output.end(), result.processed_positions.begin(), result.processed_positions.end());
        context = std::move(result.additional_data_);
    }
    return output;
}

// A total order on positions, for comparing outputs as multisets.
inline bool position_less(const position& _a, const position& _b)
{
    const auto key = [](const position& _p) {
        return std::tie(_p.ts, _p.trackable_uid, _p.trackable_id, _p.x, _p.y, _p.z, _p.mac_address,
                        _p.area_uid, _p.project_uid, _p.inactive);
    };
    return key(_a) < key(_b);
}

inline positions as_multiset(positions _positions)
{
    std::sort(_positions.begin(), _positions.end(), position_less);
    return _positions;
}

}  // namespace zav::test
