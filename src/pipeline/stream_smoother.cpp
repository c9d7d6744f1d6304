#include "pipeline/stream_smoother.hpp"

#include "pipeline/carry_over.hpp"
#include "pipeline/constants.hpp"
#include "pipeline/time_order.hpp"

#include <algorithm>
#include <iterator>

namespace zav {

using namespace pipeline;

void stream_smoother::set_carry_over(positions_vector _raw, positions_vector _filtered)
{
    const auto earlier = [](const position& _l, const position& _r) { return _l.ts < _r.ts; };
    m_raw_in_time_order = std::is_sorted(_raw.begin(), _raw.end(), earlier);
    m_filtered_in_time_order = std::is_sorted(_filtered.begin(), _filtered.end(), earlier);
    m_processed_any = !_raw.empty();
    if (m_processed_any) m_newest_processed = std::max_element(_raw.begin(), _raw.end(), earlier)->ts;
    m_raw.assign(std::make_move_iterator(_raw.begin()), std::make_move_iterator(_raw.end()));
    m_filtered.assign(std::make_move_iterator(_filtered.begin()), std::make_move_iterator(_filtered.end()));
    m_filtered_first = 0;
    m_index_valid = false;
}

positions_vector stream_smoother::push(positions_vector _arrived, const sink& _sink)
{
    add(_arrived);
    _arrived.clear();
    if (m_pending.empty()) return _arrived;
    const timestamp oldest_held_back = m_pending.back().p.ts - hold_back_span;
    const auto count = static_cast<std::size_t>(
        std::partition_point(m_pending.begin(), m_pending.end(),
                             [&](const pending_entry& _e) { return _e.p.ts < oldest_held_back; }) -
        m_pending.begin());
    if (count == 0) return _arrived;
    if (!m_index_valid) rebuild();
    filter(count);
    smooth_and_emit(count, _sink);
    carry(count);
    return _arrived;
}

std::uint32_t stream_smoother::object_of(const position& _position)
{
    const std::uint32_t object = m_tracks.number_of(_position.trackable_uid);
    if (object >= m_state.size()) m_state.resize(object + 1);
    return object;
}

void stream_smoother::add(positions_vector& _arrived)
{
    if (_arrived.empty()) return;
    _arrived = sorted_by_time(std::move(_arrived));
    // The per-object samples may have lost what a position older than one
    // processed already would reach.
    if (m_processed_any && _arrived.front().ts < m_newest_processed) m_index_valid = false;

    if (m_pending.empty() || !(_arrived.front().ts < m_pending.back().p.ts)) {
        for (position& p : _arrived) {
            const std::uint32_t object = has_coordinates(p) ? object_of(p) : uid_numbers::none;
            if (object != uid_numbers::none && m_index_valid)
                m_tracks.samples(object).push_back(
                    {p.ts.get_time_since_epoch().count(), m_pending_first + m_pending.size(), *p.x, *p.y});
            m_pending.push_back({std::move(p), object});
        }
        return;
    }

    // Late within the held-back part: merged in as a stable sort of the
    // held-back positions followed by the arrived ones would place them.
    std::deque<pending_entry> merged;
    auto next = _arrived.begin();
    const auto take_next = [&] {
        const std::uint32_t object = has_coordinates(*next) ? object_of(*next) : uid_numbers::none;
        merged.push_back({std::move(*next), object});
        ++next;
    };
    for (pending_entry& e : m_pending) {
        while (next != _arrived.end() && next->ts < e.p.ts) take_next();
        merged.push_back(std::move(e));
    }
    while (next != _arrived.end()) take_next();
    m_pending = std::move(merged);
    m_index_valid = false;
}

void stream_smoother::rebuild()
{
    for (std::uint32_t object = 0; object < m_tracks.size(); ++object) m_tracks.samples(object).clear();
    std::fill(m_state.begin(), m_state.end(), track_state{});
    for (const position& p : m_raw)
        if (has_coordinates(p))
            m_tracks.samples(object_of(p))
                .push_back({p.ts.get_time_since_epoch().count(), no_index, *p.x, *p.y});
    for (std::uint32_t object = 0; object < m_tracks.size(); ++object)
        m_state[object].first_pending = m_tracks.samples(object).size();
    for (std::size_t i = 0; i < m_pending.size(); ++i) {
        const pending_entry& e = m_pending[i];
        if (e.object != uid_numbers::none)
            m_tracks.samples(e.object).push_back(
                {e.p.ts.get_time_since_epoch().count(), m_pending_first + i, *e.p.x, *e.p.y});
    }
    for (std::size_t i = 0; i < m_filtered.size(); ++i)
        if (has_coordinates(m_filtered[i]))
            m_state[object_of(m_filtered[i])].last_filtered = m_filtered_first + i;
    m_index_valid = true;
}

void stream_smoother::filter(std::size_t _count)
{
    ++m_call;
    m_touched.clear();
    for (std::size_t i = 0; i < _count; ++i) {
        const std::uint32_t object = m_pending[i].object;
        if (object == uid_numbers::none) continue;
        track_state& state = m_state[object];
        if (state.call != m_call) {
            state.call = m_call;
            state.processed = 0;
            m_touched.push_back(object);
        }
        ++state.processed;
    }

    // Object by object, so that the median windows slide instead of being
    // gathered and sorted anew for every position. Collected by position and
    // used in order afterwards.
    m_medians.resize(_count);
    for (const std::uint32_t object : m_touched) {
        std::vector<track_sample>& samples = m_tracks.samples(object);
        track_state& state = m_state[object];
        const std::size_t first = state.first_pending;
        // Every sample of the object processed later is at least as new as
        // this one (an older arrival rebuilds the index), so the samples more
        // than a window before it are out of reach for good: a scan stops at
        // the first of them as it would run out of samples without them.
        while (state.head < first && samples[state.head].ts < samples[first].ts - median_half_width.count())
            ++state.head;
        m_median.reset();
        for (std::size_t r = first; r < first + state.processed; ++r) {
            const std::int64_t t = samples[r].ts;
            const std::size_t begin = window_begin(samples, state.head, r, t);
            const std::size_t end = window_end(samples, r + 1, t);
            m_medians[samples[r].index - m_pending_first] = m_median.over(samples, begin, end - 1);
        }
        state.first_pending = first + state.processed;
        // Dropped in blocks: the list is not shifted for every sample.
        if (state.head >= 64 && 2 * state.head >= samples.size()) {
            samples.erase(samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(state.head));
            state.first_pending -= state.head;
            state.head = 0;
        }
    }
}

void stream_smoother::smooth_and_emit(std::size_t _count, const sink& _sink)
{
    const std::size_t first_filtered = m_filtered.size();
    if (!m_filtered.empty() && m_pending.front().p.ts < m_filtered.back().ts)
        m_filtered_in_time_order = false;
    for (std::size_t i = 0; i < _count; ++i) {
        const pending_entry& e = m_pending[i];
        position filtered = e.p;
        if (e.object != uid_numbers::none) {
            filtered.x = m_medians[i].x;
            filtered.y = m_medians[i].y;
            track_state& state = m_state[e.object];
            // Only the latest earlier sample counts: an older one lies behind
            // a gap that is not filled.
            if (state.last_filtered != no_index && state.last_filtered >= m_filtered_first)
                m_gaps.fill(m_filtered[state.last_filtered - m_filtered_first], filtered);
            state.last_filtered = m_filtered_first + m_filtered.size();
        }
        m_filtered.push_back(std::move(filtered));
    }
    const positions_vector synthetic = m_gaps.take();
    m_synthetic += synthetic.size();
    for_each_merged_by_time(m_filtered.begin() + static_cast<std::ptrdiff_t>(first_filtered),
                            m_filtered.end(), synthetic.begin(), synthetic.end(), _sink);
}

void stream_smoother::carry(std::size_t _count)
{
    const timestamp newest = m_pending[_count - 1].p.ts;
    if (!m_raw.empty() && m_pending.front().p.ts < m_raw.back().ts) m_raw_in_time_order = false;
    for (std::size_t i = 0; i < _count; ++i) {
        m_raw.push_back(std::move(m_pending.front().p));
        m_pending.pop_front();
    }
    m_pending_first += _count;
    if (!m_processed_any || m_newest_processed < newest) m_newest_processed = newest;
    m_processed_any = true;

    // Trimmed against this call's newest processed position, not against
    // the newest ever processed: a position dated far ahead, once processed,
    // would otherwise take the look-back away from everything after it.
    const timestamp oldest_kept = newest - hold_back_span;
    const auto earlier = [](const position& _l, const position& _r) { return _l.ts < _r.ts; };
    const std::size_t raw_before = m_raw.size();
    keep_from(m_raw, m_raw_in_time_order, oldest_kept);
    if (!m_raw_in_time_order) {
        // A sample gone from the middle of an object's list changes where
        // its scans stop.
        if (m_raw.size() != raw_before) m_index_valid = false;
        m_raw_in_time_order = std::is_sorted(m_raw.begin(), m_raw.end(), earlier);
    }
    const std::size_t filtered_before = m_filtered.size();
    keep_from(m_filtered, m_filtered_in_time_order, oldest_kept);
    if (m_filtered_in_time_order) {
        m_filtered_first += filtered_before - m_filtered.size();
    } else {
        if (m_filtered.size() != filtered_before) m_index_valid = false;
        m_filtered_in_time_order = std::is_sorted(m_filtered.begin(), m_filtered.end(), earlier);
    }
}

positions_vector stream_smoother::held_back() const
{
    positions_vector positions;
    positions.reserve(m_pending.size());
    for (const pending_entry& e : m_pending) positions.push_back(e.p);
    return positions;
}

positions_vector stream_smoother::carried_raw() const { return {m_raw.begin(), m_raw.end()}; }

positions_vector stream_smoother::carried_filtered() const { return {m_filtered.begin(), m_filtered.end()}; }

const position& stream_smoother::newest_held_back() const
{
    const timestamp newest = m_pending.back().p.ts;
    return std::partition_point(m_pending.begin(), m_pending.end(),
                                [&](const pending_entry& _e) { return _e.p.ts < newest; })
        ->p;
}

}  // namespace zav
