#include "pipeline/median_window.hpp"

#include "pipeline/constants.hpp"
#include "pipeline/sliding_median.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>

namespace zav {

namespace {

constexpr std::size_t small_window = 32;

}  // namespace

int median_of(std::span<int> _values)
{
    const std::size_t n = _values.size();
    if (n == 1) return _values[0];
    if (n <= small_window) {
        // Windows of objects reporting at up to 10 Hz hold at most 21
        // samples; an insertion sort beats selection at that size.
        for (auto it = _values.begin() + 1; it != _values.end(); ++it) {
            const int value = *it;
            auto hole = it;
            for (; hole != _values.begin() && *(hole - 1) > value; --hole) *hole = *(hole - 1);
            *hole = value;
        }
        return sliding_median::of_sorted(_values);
    }
    const auto upper = _values.begin() + static_cast<std::ptrdiff_t>(n / 2);
    std::nth_element(_values.begin(), upper, _values.end());
    if (n % 2 == 1) return *upper;
    const int lower = *std::max_element(_values.begin(), upper);
    return sliding_median::of_sorted(std::array<int, 2>{lower, *upper});
}

median_window::coordinates median_window::filter(const position& _current,
                                                 const trackable_index::neighbourhood& _neighbourhood)
{
    m_xs.assign(1, *_current.x);
    m_ys.assign(1, *_current.y);
    const std::int64_t t = _current.ts.get_time_since_epoch().count();
    const std::int64_t half_width = pipeline::median_half_width.count();
    const auto& [before, after] = _neighbourhood;
    for (auto it = before.rbegin(); it != before.rend() && std::abs(it->ts - t) <= half_width; ++it) add(*it);
    for (auto it = after.begin(); it != after.end() && std::abs(it->ts - t) <= half_width; ++it) add(*it);
    return {median_of(m_xs), median_of(m_ys)};
}

positions_vector filtered_by_object(positions_vector _older, const trackable_index& _index,
                                    std::size_t _first)
{
    using sample = trackable_index::sample;
    const std::int64_t half_width = pipeline::median_half_width.count();
    const auto by_index = [](const sample& _s, std::size_t _i) { return _s.index < _i; };
    // Collected by element and written in order afterwards: writing them
    // object by object would jump through the piece.
    std::vector<sliding_median::coordinates> medians(_older.size());
    sliding_median median;
    for (std::size_t object = 0; object < _index.objects(); ++object) {
        const auto samples = _index.samples_of(object);
        const auto begin =
            std::lower_bound(samples.begin(), samples.end(), _first, by_index) - samples.begin();
        const auto end = std::lower_bound(samples.begin(), samples.end(), _first + _older.size(), by_index) -
                         samples.begin();
        median.reset();
        for (auto r = static_cast<std::size_t>(begin); r < static_cast<std::size_t>(end); ++r) {
            const std::int64_t t = samples[r].ts;
            // Each scan stops at the first sample outside the window, as seen
            // in sequence order.
            std::size_t first = r;
            while (first > 0 && std::abs(samples[first - 1].ts - t) <= half_width) --first;
            std::size_t last = r;
            while (last + 1 < samples.size() && std::abs(samples[last + 1].ts - t) <= half_width) ++last;
            medians[samples[r].index - _first] = median.over(samples, first, last);
        }
    }
    for (std::size_t k = 0; k < _older.size(); ++k) {
        position& p = _older[k];
        if (has_coordinates(p)) {
            p.x = medians[k].x;
            p.y = medians[k].y;
        }
    }
    return _older;
}

void median_window::add(const trackable_index::sample& _sample)
{
    m_xs.push_back(_sample.x);
    m_ys.push_back(_sample.y);
}

}  // namespace zav
