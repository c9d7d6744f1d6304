#include "pipeline/gap_filler.hpp"

#include "pipeline/constants.hpp"
#include "pipeline/time_distance.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace zav {

using namespace pipeline;

namespace {

// The coordinate k/n of the way from _from to _to: _from plus k/n of the
// difference, rounded half away from zero. Difference, product and sum are
// formed in 64 bits, where they are exact for any 32-bit coordinates (the
// product stays below 2^35, exact in a double too): the same as in 32 bits
// wherever those do not overflow, and no overflow where they would. With
// 0 < k < n the result lies between _from and _to, so it fits an int.
int interpolated(int _from, int _to, std::int64_t _k, std::int64_t _n)
{
    const std::int64_t difference = std::int64_t{_to} - _from;
    return static_cast<int>(_from +
                            std::lround(static_cast<double>(_k * difference) / static_cast<double>(_n)));
}

}  // namespace

void gap_filler::fill(const position_record& _previous, const position_record& _current)
{
    if (m_taken) {
        m_positions.clear();
        m_taken = false;
    }
    if (!spans_gap(_previous.ts, _current.ts)) return;
    const std::int64_t delta = std::abs(_current.ts - _previous.ts);
    const std::int64_t seconds = rounded_seconds(delta);
    if (seconds < smallest_filled_gap.count()) return;
    for (std::int64_t k = 1; k < seconds; ++k) {
        position_record synthetic = _previous;
        synthetic.ts = _previous.ts + k * interpolation_step.count();
        synthetic.x = interpolated(_previous.x, _current.x, k, seconds);
        synthetic.y = interpolated(_previous.y, _current.y, k, seconds);
        m_positions.push_back(synthetic);
    }
}

bool gap_filler::spans_gap(std::int64_t _previous, std::int64_t _current)
{
    const std::int64_t delta = std::abs(_current - _previous);
    return delta >= shortest_gap.count() && delta <= longest_gap.count();
}

const std::vector<position_record>& gap_filler::take()
{
    if (m_taken) m_positions.clear();
    m_taken = true;
    // Each gap's positions are ascending already; gaps of different objects
    // interleave. Equal times keep their order, as a stable sort of positions
    // would.
    std::stable_sort(m_positions.begin(), m_positions.end(),
                     [](const position_record& _l, const position_record& _r) { return _l.ts < _r.ts; });
    return m_positions;
}

}  // namespace zav
