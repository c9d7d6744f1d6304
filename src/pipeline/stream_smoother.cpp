#include "pipeline/stream_smoother.hpp"

#include "pipeline/carry_over.hpp"
#include "pipeline/constants.hpp"
#include "pipeline/time_order.hpp"

#include <algorithm>
#include <iterator>

namespace zav {

using namespace pipeline;

namespace {

constexpr auto earlier = [](const position_record& _l, const position_record& _r) { return _l.ts < _r.ts; };

// With thousands of objects, the states of consecutive positions' objects lie
// far apart and out of the cache; asked for this many positions ahead, their
// loads overlap instead of each waiting for memory in turn.
constexpr std::size_t prefetch_distance = 16;

void prefetch(const void* _address) { __builtin_prefetch(_address); }

}  // namespace

position_record stream_smoother::record_of(const position& _position)
{
    const position_record record = m_strings.record_of(_position);
    cover_strings();
    return record;
}

void stream_smoother::cover_strings()
{
    if (m_objects.size() < m_strings.size()) m_objects.resize(m_strings.size());
}

void stream_smoother::set_carry_over(positions_vector _raw, positions_vector _filtered)
{
    m_raw.clear();
    m_filtered.clear();
    for (const position& p : _raw) m_raw.push_back(record_of(p));
    for (const position& p : _filtered) m_filtered.push_back(record_of(p));
    m_raw_in_time_order = std::is_sorted(m_raw.begin(), m_raw.end(), earlier);
    m_filtered_in_time_order = std::is_sorted(m_filtered.begin(), m_filtered.end(), earlier);
    m_processed_any = !m_raw.empty();
    if (m_processed_any) m_newest_processed = std::max_element(m_raw.begin(), m_raw.end(), earlier)->ts;
    m_filtered_first = 0;
    m_index_valid = false;
}

positions_vector stream_smoother::push(positions_vector _arrived, const sink& _sink)
{
    return push_records(std::move(_arrived), [&](const position_record& _r) {
        m_strings.fill(_r, m_out);
        _sink(m_out);
    });
}

positions_vector stream_smoother::push_records(positions_vector _arrived, const record_sink& _sink)
{
    m_arrived.clear();
    for (const position& p : _arrived) m_arrived.push_back(record_of(p));
    _arrived.clear();
    add(m_arrived);
    process(_sink);
    return _arrived;
}

std::vector<position_record> stream_smoother::push_records(std::vector<position_record> _arrived,
                                                           const record_sink& _sink)
{
    cover_strings();
    add(_arrived);
    _arrived.clear();
    process(_sink);
    return _arrived;
}

void stream_smoother::process(const record_sink& _sink)
{
    if (m_pending.empty()) return;
    const std::int64_t oldest_held_back = m_pending.back().ts - hold_back_span.count();
    const auto count = static_cast<std::size_t>(
        std::partition_point(m_pending.begin(), m_pending.end(),
                             [&](const position_record& _r) { return _r.ts < oldest_held_back; }) -
        m_pending.begin());
    if (count == 0) return;
    if (!m_index_valid) rebuild();
    filter(count);
    smooth_and_emit(count, _sink);
    carry(count);
}

void stream_smoother::add(std::vector<position_record>& _arrived)
{
    if (_arrived.empty()) return;
    _arrived = sorted_by_time(std::move(_arrived));
    const std::int64_t first = _arrived.front().ts;
    // The per-object samples may have lost what a position older than one
    // processed already would reach.
    if (m_processed_any && first < m_newest_processed) m_index_valid = false;

    if (m_pending.empty() || first >= m_pending.back().ts) {
        if (!m_index_valid) {
            m_pending.insert(m_pending.end(), _arrived.data(), _arrived.data() + _arrived.size());
            return;
        }
        const std::size_t n = _arrived.size();
        for (std::size_t i = 0; i < n; ++i) {
            // The state first, then, once it is there, the end of its samples.
            if (i + prefetch_distance < n) prefetch(&m_objects[_arrived[i + prefetch_distance].uid]);
            if (i + prefetch_distance / 2 < n) {
                const std::vector<track_sample>& ahead =
                    m_objects[_arrived[i + prefetch_distance / 2].uid].samples;
                prefetch(ahead.data() + ahead.size());
            }
            const position_record& r = _arrived[i];
            if (r.has_coordinates())
                m_objects[r.uid].samples.push_back({r.ts, m_pending_first + m_pending.size() + i, r.x, r.y});
        }
        m_pending.insert(m_pending.end(), _arrived.data(), _arrived.data() + n);
        return;
    }

    // Late within the held-back part: merged in as a stable sort of the
    // held-back positions followed by the arrived ones would place them.
    std::deque<position_record> merged;
    auto next = _arrived.begin();
    for (const position_record& r : m_pending) {
        for (; next != _arrived.end() && next->ts < r.ts; ++next) merged.push_back(*next);
        merged.push_back(r);
    }
    merged.insert(merged.end(), next, _arrived.end());
    m_pending = std::move(merged);
    m_index_valid = false;
}

void stream_smoother::rebuild()
{
    for (object_state& state : m_objects) {
        std::vector<track_sample> samples = std::move(state.samples);
        samples.clear();
        state = object_state{};
        state.samples = std::move(samples);
    }
    for (const position_record& r : m_raw)
        if (r.has_coordinates()) m_objects[r.uid].samples.push_back({r.ts, no_index, r.x, r.y});
    for (object_state& state : m_objects)
        state.first_pending = static_cast<std::uint32_t>(state.samples.size());
    for (std::size_t i = 0; i < m_pending.size(); ++i) {
        const position_record& r = m_pending[i];
        if (r.has_coordinates()) m_objects[r.uid].samples.push_back({r.ts, m_pending_first + i, r.x, r.y});
    }
    for (std::size_t i = 0; i < m_filtered.size(); ++i) {
        const position_record& r = m_filtered[i];
        if (!r.has_coordinates()) continue;
        m_objects[r.uid].last_filtered = m_filtered_first + i;
        m_objects[r.uid].last_filtered_ts = r.ts;
    }
    m_index_valid = true;
}

void stream_smoother::filter(std::size_t _count)
{
    ++m_call;
    m_touched.clear();
    for (std::size_t i = 0; i < _count; ++i) {
        if (i + prefetch_distance < _count) prefetch(&m_objects[m_pending[i + prefetch_distance].uid]);
        const position_record& r = m_pending[i];
        if (!r.has_coordinates()) continue;
        object_state& state = m_objects[r.uid];
        if (state.call != m_call) {
            state.call = m_call;
            state.processed = 0;
            m_touched.push_back(r.uid);
        }
        ++state.processed;
    }

    // Object by object, so that the median windows slide instead of being
    // gathered and sorted anew for every position. Collected by position and
    // used in order afterwards.
    m_medians.resize(_count);
    for (std::size_t k = 0; k < m_touched.size(); ++k) {
        // An object's samples are filtered in a few hundred nanoseconds:
        // its state is asked for four objects ahead, its samples two.
        if (k + 4 < m_touched.size()) prefetch(&m_objects[m_touched[k + 4]]);
        if (k + 2 < m_touched.size()) {
            // The samples this call filters were added 10 s ago and are no
            // longer in the cache; their windows reach a second back, and
            // dropping the samples out of reach moves all the later ones.
            // Bounded, for the long lists of small pieces and of the daemon.
            const object_state& next = m_objects[m_touched[k + 2]];
            const char* from = reinterpret_cast<const char*>(next.samples.data() + next.head);
            const char* to = reinterpret_cast<const char*>(next.samples.data() + next.samples.size());
            for (int line = 0; from < to && line < 32; from += 64, ++line) prefetch(from);
        }
        const std::uint32_t object = m_touched[k];
        object_state& state = m_objects[object];
        std::vector<track_sample>& samples = state.samples;
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
        state.first_pending = static_cast<std::uint32_t>(first + state.processed);
        // Dropped in blocks, so that the list is not shifted for every
        // sample, yet small ones: a list's capacity doubles when dead samples
        // pile up beyond a power of two, and with 10,000 objects that is
        // tens of megabytes.
        if (state.head >= 8 && 8 * state.head >= samples.size()) {
            samples.erase(samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(state.head));
            state.first_pending -= state.head;
            state.head = 0;
        }
    }
}

void stream_smoother::smooth_and_emit(std::size_t _count, const record_sink& _sink)
{
    if (!m_filtered.empty() && m_pending.front().ts < m_filtered.back().ts) m_filtered_in_time_order = false;
    if (m_filtered_in_time_order) {
        // What carry() will drop and no gap of this call can start from (it
        // lies more than the longest gap before the oldest position processed
        // now) goes first, so that the list does not hold the old and the new
        // span at once: at the final flush of a batch run each is the whole
        // held-back part. A gap's start found gone is no gap, as fill() would
        // decide for it.
        const std::int64_t bound = std::min(m_pending[_count - 1].ts - hold_back_span.count(),
                                            m_pending.front().ts - longest_gap.count());
        const std::size_t before = m_filtered.size();
        keep_from(m_filtered, true, bound);
        m_filtered_first += before - m_filtered.size();
    }
    const std::size_t first_filtered = m_filtered.size();
    for (std::size_t i = 0; i < _count; ++i) {
        if (i + prefetch_distance < _count) prefetch(&m_objects[m_pending[i + prefetch_distance].uid]);
        position_record filtered = m_pending[i];
        if (filtered.has_coordinates()) {
            filtered.x = m_medians[i].x;
            filtered.y = m_medians[i].y;
            object_state& state = m_objects[filtered.uid];
            // Only the latest earlier sample counts: an older one lies behind
            // a gap that is not filled. It is fetched only for a gap: it lies
            // anywhere in the last 10 s of filtered samples.
            if (state.last_filtered != no_index && state.last_filtered >= m_filtered_first &&
                gap_filler::spans_gap(state.last_filtered_ts, filtered.ts))
                m_gaps.fill(m_filtered[state.last_filtered - m_filtered_first], filtered);
            state.last_filtered = m_filtered_first + m_filtered.size();
            state.last_filtered_ts = filtered.ts;
        }
        m_filtered.push_back(filtered);
    }
    const std::vector<position_record>& synthetic = m_gaps.take();
    m_synthetic += synthetic.size();
    // The sink renders each record's texts: the uid and the MAC address of
    // the records some places ahead are asked for meanwhile (the synthetic
    // ones copy the texts of a filtered one just visited).
    const auto end = m_filtered.end();
    for_each_merged_by_time(m_filtered.begin() + static_cast<std::ptrdiff_t>(first_filtered), end,
                            synthetic.begin(), synthetic.end(), _sink,
                            [&](std::deque<position_record>::const_iterator _next) {
                                if (end - _next > static_cast<std::ptrdiff_t>(prefetch_distance))
                                    m_strings.prefetch(_next[prefetch_distance]);
                            });
}

void stream_smoother::carry(std::size_t _count)
{
    const std::int64_t newest = m_pending[_count - 1].ts;
    // Trimmed against this call's newest processed position, not against
    // the newest ever processed: a position dated far ahead, once processed,
    // would otherwise take the look-back away from everything after it.
    const std::int64_t oldest_kept = newest - hold_back_span.count();
    if (!m_raw.empty() && m_pending.front().ts < m_raw.back().ts) m_raw_in_time_order = false;
    const std::size_t raw_before = m_raw.size() + _count;
    // The old part is trimmed before the processed positions join it, so
    // that the list never holds both spans at once (at the final flush of a
    // batch run each is the whole held-back part).
    keep_from(m_raw, m_raw_in_time_order, oldest_kept);
    m_raw.insert(m_raw.end(), m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(_count));
    m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(_count));
    m_pending_first += _count;
    if (!m_processed_any || m_newest_processed < newest) m_newest_processed = newest;
    m_processed_any = true;
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

positions_vector stream_smoother::positions_of(const std::deque<position_record>& _records) const
{
    positions_vector positions;
    positions.reserve(_records.size());
    for (const position_record& r : _records) positions.push_back(m_strings.position_of(r));
    return positions;
}

positions_vector stream_smoother::held_back() const { return positions_of(m_pending); }

positions_vector stream_smoother::carried_raw() const { return positions_of(m_raw); }

positions_vector stream_smoother::carried_filtered() const { return positions_of(m_filtered); }

const position_record& stream_smoother::newest_held_back() const
{
    const std::int64_t newest = m_pending.back().ts;
    return *std::partition_point(m_pending.begin(), m_pending.end(),
                                 [&](const position_record& _r) { return _r.ts < newest; });
}

}  // namespace zav
