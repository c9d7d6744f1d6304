#include "positions_post_processor.hpp"

#include "core/exception.hpp"
#include "pipeline/gap_filler.hpp"
#include "pipeline/median_window.hpp"
#include "pipeline/sliding_median.hpp"
#include "pipeline/time_distance.hpp"
#include "pipeline/time_order.hpp"
#include "pipeline/trackable_index.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <span>

namespace zav {

namespace {

using ms = std::chrono::milliseconds;
using positions = positions_post_processor::positions;

// Consecutive parts read as one sequence.
struct sequence
{
    std::span<const position> head;
    std::span<const position> tail;

    const position& operator[](std::size_t _index) const
    {
        return _index < head.size() ? head[_index] : tail[_index - head.size()];
    }
};

// Copies of the positions of _earlier followed by _later that lie at most
// hold_back_span before the newest of them, in their order. _later is in time
// order; _earlier, a carry-over, is small.
positions recent_part(std::span<const position> _earlier, std::span<const position> _later)
{
    if (_earlier.empty() && _later.empty()) return {};
    timestamp newest = _later.empty() ? _earlier.front().ts : _later.back().ts;
    for (const position& p : _earlier) newest = std::max(newest, p.ts);
    const timestamp oldest_kept = newest - positions_post_processor::hold_back_span;
    const auto is_old = [&](const position& _p) { return _p.ts < oldest_kept; };
    positions kept;
    std::copy_if(_earlier.begin(), _earlier.end(), std::back_inserter(kept),
                 [&](const position& _p) { return !is_old(_p); });
    kept.insert(kept.end(), std::partition_point(_later.begin(), _later.end(), is_old), _later.end());
    return kept;
}

// The positions at most hold_back_span before the newest of them, in their
// order.
positions recent_only(positions _positions)
{
    if (_positions.empty()) return _positions;
    const timestamp newest =
        std::max_element(_positions.begin(), _positions.end(), positions_post_processor::timestamp_less)->ts;
    const timestamp oldest_kept = newest - positions_post_processor::hold_back_span;
    std::erase_if(_positions, [&](const position& _p) { return _p.ts < oldest_kept; });
    return _positions;
}

// The synthetic positions for the elements of _to_process, which are the
// elements from _offset on of _sequence. _index is built over a sequence with
// the same objects, times and presence of coordinates as _sequence. With
// _in_sequence, _to_process is that part of the sequence itself.
positions gap_positions(const trackable_index& _index, const sequence& _sequence,
                        std::span<const position> _to_process, std::size_t _offset, bool _in_sequence)
{
    gap_filler filler;
    for (std::size_t i = 0; i < _to_process.size(); ++i) {
        const position& current = _to_process[i];
        if (!has_coordinates(current)) continue;
        const auto before =
            (_in_sequence ? _index.around(_offset + i) : _index.around(current, _offset + i)).before;
        // Only the latest earlier sample counts: an older one lies behind a
        // gap that is not filled.
        if (!before.empty()) filler.fill(_sequence[before.back().index], current);
    }
    return filler.take();
}

// Whether a carry-over's two lists pair up element for element in object, time
// and presence of coordinates, as every carry-over made here does.
bool pairs_up(const positions& _raw, const positions& _filtered)
{
    return std::equal(_raw.begin(), _raw.end(), _filtered.begin(), _filtered.end(),
                      [](const position& _r, const position& _f) {
                          return _r.ts == _f.ts && has_coordinates(_r) == has_coordinates(_f) &&
                                 _r.trackable_uid == _f.trackable_uid;
                      });
}

}  // namespace

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

positions_post_processor::post_processing_result positions_post_processor::process_positions(
    const additional_data& _additional_data, positions _positions_to_process)
{
    auto [older, held_back] = cut_positions(sorted_by_time(std::move(_positions_to_process)));
    const positions& carried = _additional_data.processed_positions;
    const filtered_positions& carried_filtered = _additional_data.processed_filtered_positions;

    // Median windows reach back into the carry-over and on into the held-back part.
    const trackable_index index({carried, older, held_back});

    // The carry-over keeps raw values, so it is copied before older is filtered in
    // place; the filter itself reads the raw values from the index.
    positions recent = recent_part(carried, older);
    filtered_positions filtered = filtered_by_object(std::move(older), index, carried.size());

    // Gaps are bridged over carried_filtered followed by filtered. When the
    // carry-over pairs up, that sequence matches the filter sequence in
    // everything the index records but x and y, which are read from the
    // sequence itself, so the same index serves.
    const sequence for_interpolation{carried_filtered, filtered};
    positions synthetic = pairs_up(carried, carried_filtered)
                              ? gap_positions(index, for_interpolation, filtered, carried.size(), true)
                              : gap_positions(trackable_index({carried_filtered, filtered}),
                                              for_interpolation, filtered, carried_filtered.size(), true);
    positions recent_filtered = recent_part(carried_filtered, filtered);

    post_processing_result result;
    result.processed_positions = merged_by_time(std::move(filtered), std::move(synthetic));
    // Both carried lists are trimmed already.
    result.additional_data_.not_processed_positions = std::move(held_back);
    result.additional_data_.processed_positions = std::move(recent);
    result.additional_data_.processed_filtered_positions = std::move(recent_filtered);
    return result;
}

positions_post_processor::filtered_positions positions_post_processor::filter_positions(
    positions _positions_to_process, positions _positions_for_filter, std::size_t _added_positions)
{
    const trackable_index index({_positions_for_filter});
    median_window window;
    for (std::size_t k = 0; k < _positions_to_process.size(); ++k) {
        position& p = _positions_to_process[k];
        if (!has_coordinates(p)) continue;
        const auto filtered = window.filter(p, index.around(p, _added_positions + k));
        p.x = filtered.x;
        p.y = filtered.y;
    }
    return _positions_to_process;
}

int positions_post_processor::median_filter(std::vector<int> _values) { return median_of(_values); }

positions_post_processor::additional_data positions_post_processor::make_additional_data(
    positions _not_processed_positions, positions _processed_positions,
    filtered_positions _processed_filtered_positions)
{
    additional_data data;
    data.not_processed_positions = std::move(_not_processed_positions);
    data.processed_positions = recent_only(std::move(_processed_positions));
    data.processed_filtered_positions = recent_only(std::move(_processed_filtered_positions));
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
    const trackable_index index({_positions_for_interpolation});
    positions synthetic = gap_positions(index, sequence{_positions_for_interpolation, {}},
                                        _positions_to_process, offset, false);
    return merged_by_time(sorted_by_time(std::move(_positions_to_process)), std::move(synthetic));
}

}  // namespace zav
