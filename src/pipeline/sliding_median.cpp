#include "pipeline/sliding_median.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace zav {

namespace {

// The windows hold a few dozen values at most, so the values are shifted by
// hand: a call of memmove per step would cost more than the shift.
void erase_one(std::vector<int>& _sorted, int _value)
{
    auto it = std::lower_bound(_sorted.begin(), _sorted.end(), _value);
    for (auto next = it + 1; next != _sorted.end(); ++it, ++next) *it = *next;
    _sorted.pop_back();
}

void insert_one(std::vector<int>& _sorted, int _value)
{
    const auto at =
        static_cast<std::size_t>(std::upper_bound(_sorted.begin(), _sorted.end(), _value) - _sorted.begin());
    _sorted.push_back(_value);
    for (std::size_t i = _sorted.size() - 1; i > at; --i) _sorted[i] = _sorted[i - 1];
    _sorted[at] = _value;
}

}  // namespace

coordinates sliding_median::over(std::span<const track_sample> _samples, std::size_t _first,
                                 std::size_t _last)
{
    // Windows only move forward in the usual case; any other move (possible
    // when the samples are not in time order) starts afresh.
    if (!m_empty && _first >= m_first && _last >= m_last && _first <= m_last + 1) {
        for (std::size_t i = m_first; i < _first; ++i) remove(_samples[i]);
        for (std::size_t i = m_last + 1; i <= _last; ++i) insert(_samples[i]);
    } else {
        m_xs.clear();
        m_ys.clear();
        for (std::size_t i = _first; i <= _last; ++i) {
            m_xs.push_back(_samples[i].x);
            m_ys.push_back(_samples[i].y);
        }
        std::sort(m_xs.begin(), m_xs.end());
        std::sort(m_ys.begin(), m_ys.end());
        m_empty = false;
    }
    m_first = _first;
    m_last = _last;
    return {of_sorted(m_xs), of_sorted(m_ys)};
}

int sliding_median::of_sorted(std::span<const int> _values)
{
    const std::size_t n = _values.size();
    if (n % 2 == 1) return _values[n / 2];
    // Summed in 64 bits: equal to a 32-bit sum wherever that does not
    // overflow, and no overflow where it would.
    return static_cast<int>(
        std::lround(0.5 * static_cast<double>(std::int64_t{_values[n / 2 - 1]} + _values[n / 2])));
}

void sliding_median::remove(const track_sample& _sample)
{
    erase_one(m_xs, _sample.x);
    erase_one(m_ys, _sample.y);
}

void sliding_median::insert(const track_sample& _sample)
{
    insert_one(m_xs, _sample.x);
    insert_one(m_ys, _sample.y);
}

}  // namespace zav
