#include "positions_post_processor.hpp"

#include "core/exception.hpp"
#include "pipeline/carry_over.hpp"
#include "pipeline/coordinates.hpp"
#include "pipeline/gap_filler.hpp"
#include "pipeline/object_tracks.hpp"
#include "pipeline/position_record.hpp"
#include "pipeline/sliding_median.hpp"
#include "pipeline/stream_smoother.hpp"
#include "pipeline/time_distance.hpp"
#include "pipeline/time_order.hpp"

#include <algorithm>
#include <iterator>

namespace zav {

namespace {

using positions = positions_post_processor::positions;

// The samples with coordinates of _sequence by object, indexed by their place
// in it.
object_tracks tracks_of(const positions& _sequence)
{
    object_tracks tracks;
    for (std::size_t j = 0; j < _sequence.size(); ++j) {
        const position_record r = tracks.record_of(_sequence[j]);
        if (r.has_coordinates()) tracks.samples(r.uid).push_back({r.ts, j, r.x, r.y});
    }
    return tracks;
}

// The first of _samples at sequence index _index or later.
std::size_t rank_of(const std::vector<track_sample>& _samples, std::size_t _index)
{
    return static_cast<std::size_t>(
        std::lower_bound(_samples.begin(), _samples.end(), _index,
                         [](const track_sample& _s, std::size_t _i) { return _s.index < _i; }) -
        _samples.begin());
}

}  // namespace

positions_post_processor::post_processing_result positions_post_processor::process_positions(
    const additional_data& _additional_data, positions _positions_to_process)
{
    CORE_CHECK(_positions_to_process.size());
    stream_smoother smoother;
    smoother.set_carry_over(_additional_data.processed_positions,
                            _additional_data.processed_filtered_positions);
    post_processing_result result;
    smoother.push(std::move(_positions_to_process),
                  [&](const position& _p) { result.processed_positions.push_back(_p); });
    result.additional_data_.not_processed_positions = smoother.held_back();
    result.additional_data_.processed_positions = smoother.carried_raw();
    result.additional_data_.processed_filtered_positions = smoother.carried_filtered();
    return result;
}

// Split of a time-ordered piece; the held-back part starts at the first
// position at most hold_back_span older than the newest one.
std::pair<std::vector<position>, std::vector<position>> positions_post_processor::cut_positions(
    positions _positions_to_process)
{
    CORE_CHECK(_positions_to_process.size());
    const timestamp oldest_held_back = _positions_to_process.back().ts - hold_back_span;
    const auto first_held_back =
        std::partition_point(_positions_to_process.begin(), _positions_to_process.end(),
                             [&](const position& _p) { return _p.ts < oldest_held_back; });
    positions held_back(std::make_move_iterator(first_held_back),
                        std::make_move_iterator(_positions_to_process.end()));
    _positions_to_process.erase(first_held_back, _positions_to_process.end());
    return {std::move(_positions_to_process), std::move(held_back)};
}

positions_post_processor::filtered_positions positions_post_processor::filter_positions(
    positions _positions_to_process, positions _positions_for_filter, std::size_t _added_positions)
{
    object_tracks tracks = tracks_of(_positions_for_filter);
    sliding_median median;
    std::vector<track_sample> window;
    for (std::size_t k = 0; k < _positions_to_process.size(); ++k) {
        position& p = _positions_to_process[k];
        if (!has_coordinates(p)) continue;
        const std::int64_t t = p.ts.get_time_since_epoch().count();
        const std::size_t at = _added_positions + k;
        const track_sample own{t, at, *p.x, *p.y};
        // The element need not be the sample at its index: its own values
        // count, the indexed sample's do not.
        window.clear();
        if (const std::uint32_t object = tracks.find(p.trackable_uid); object != position_record::absent) {
            const std::vector<track_sample>& samples = tracks.samples(object);
            const std::size_t rank = rank_of(samples, at);
            const std::size_t after = rank + (rank < samples.size() && samples[rank].index == at ? 1 : 0);
            window.assign(samples.begin() + static_cast<std::ptrdiff_t>(window_begin(samples, 0, rank, t)),
                          samples.begin() + static_cast<std::ptrdiff_t>(rank));
            window.push_back(own);
            window.insert(window.end(), samples.begin() + static_cast<std::ptrdiff_t>(after),
                          samples.begin() + static_cast<std::ptrdiff_t>(window_end(samples, after, t)));
        } else {
            window.push_back(own);
        }
        median.reset();
        const coordinates filtered = median.over(window, 0, window.size() - 1);
        p.x = filtered.x;
        p.y = filtered.y;
    }
    return _positions_to_process;
}

int positions_post_processor::median_filter(std::vector<int> _values)
{
    std::sort(_values.begin(), _values.end());
    return sliding_median::of_sorted(_values);
}

positions_post_processor::additional_data positions_post_processor::make_additional_data(
    positions _not_processed_positions, positions _processed_positions,
    filtered_positions _processed_filtered_positions)
{
    // Each list keeps what lies at most hold_back_span before its own newest
    // position, trimmed as the pipeline trims its carry-over.
    const auto trim = [](positions& _list) {
        if (_list.empty()) return;
        const auto earlier = [](const position& _l, const position& _r) { return _l.ts < _r.ts; };
        const timestamp newest = std::max_element(_list.begin(), _list.end(), earlier)->ts;
        keep_from(_list, std::is_sorted(_list.begin(), _list.end(), earlier),
                  (newest - hold_back_span).get_time_since_epoch().count());
    };
    trim(_processed_positions);
    trim(_processed_filtered_positions);
    additional_data data;
    data.not_processed_positions = std::move(_not_processed_positions);
    data.processed_positions = std::move(_processed_positions);
    data.processed_filtered_positions = std::move(_processed_filtered_positions);
    return data;
}

std::chrono::milliseconds positions_post_processor::delta_ms(const position& _lhs, const position& _rhs)
{
    return pipeline::delta_ms(_lhs, _rhs);
}

std::chrono::seconds positions_post_processor::delta_s(const position& _lhs, const position& _rhs)
{
    return pipeline::delta_s(_lhs, _rhs);
}

bool positions_post_processor::timestamp_less(const position& _lhs, const position& _rhs)
{
    return _lhs.ts < _rhs.ts;
}

positions_post_processor::interpolated_positions positions_post_processor::interpolate_positions(
    filtered_positions _positions_to_process, const filtered_positions& _positions_for_interpolation)
{
    CORE_CHECK(_positions_for_interpolation.size() >= _positions_to_process.size());
    const std::size_t offset = _positions_for_interpolation.size() - _positions_to_process.size();
    object_tracks tracks = tracks_of(_positions_for_interpolation);
    gap_filler filler;
    for (std::size_t i = 0; i < _positions_to_process.size(); ++i) {
        const position& current = _positions_to_process[i];
        if (!has_coordinates(current)) continue;
        const std::uint32_t object = tracks.find(current.trackable_uid);
        if (object == position_record::absent) continue;
        // Only the latest earlier sample counts: an older one lies behind a
        // gap that is not filled.
        const std::vector<track_sample>& samples = tracks.samples(object);
        const std::size_t rank = rank_of(samples, offset + i);
        if (rank > 0)
            filler.fill(tracks.record_of(_positions_for_interpolation[samples[rank - 1].index]),
                        tracks.record_of(current));
    }
    const positions sorted = sorted_by_time(std::move(_positions_to_process));
    positions synthetic;
    for (const position_record& r : filler.take()) synthetic.push_back(tracks.strings().position_of(r));
    positions result;
    result.reserve(sorted.size() + synthetic.size());
    for_each_merged_by_time(sorted.begin(), sorted.end(), synthetic.begin(), synthetic.end(),
                            [&](const position& _p) { result.push_back(_p); });
    return result;
}

}  // namespace zav
