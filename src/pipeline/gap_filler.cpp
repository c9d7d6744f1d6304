#include "pipeline/gap_filler.hpp"

#include "pipeline/constants.hpp"
#include "pipeline/time_distance.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace zav {

using namespace pipeline;

namespace {

// k/n of a coordinate difference, rounded half away from zero. The product is
// formed in 64 bits: equal to a 32-bit product wherever that does not
// overflow, and no overflow where it would.
int step(std::int64_t _difference, std::int64_t _k, std::int64_t _n)
{
    return static_cast<int>(std::lround(static_cast<double>(_k * _difference) / static_cast<double>(_n)));
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
    const std::int64_t dx = std::int64_t{_current.x} - _previous.x;
    const std::int64_t dy = std::int64_t{_current.y} - _previous.y;
    for (std::int64_t k = 1; k < seconds; ++k) {
        position_record synthetic = _previous;
        synthetic.ts = _previous.ts + k * interpolation_step.count();
        synthetic.x = _previous.x + step(dx, k, seconds);
        synthetic.y = _previous.y + step(dy, k, seconds);
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
