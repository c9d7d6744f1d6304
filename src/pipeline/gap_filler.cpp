#include "pipeline/gap_filler.hpp"

#include "pipeline/constants.hpp"
#include "pipeline/time_distance.hpp"
#include "pipeline/time_order.hpp"

#include <cmath>

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

void gap_filler::fill(const position& _previous, const position& _current)
{
    const auto delta = delta_ms(_previous, _current);
    if (delta < shortest_gap || delta > longest_gap) return;
    const std::int64_t seconds = delta_s(_previous, _current).count();
    if (seconds < smallest_filled_gap.count()) return;
    const std::int64_t dx = std::int64_t{*_current.x} - *_previous.x;
    const std::int64_t dy = std::int64_t{*_current.y} - *_previous.y;
    for (std::int64_t k = 1; k < seconds; ++k) {
        position synthetic = _previous;
        synthetic.ts = _previous.ts + k * interpolation_step;
        synthetic.x = *_previous.x + step(dx, k, seconds);
        synthetic.y = *_previous.y + step(dy, k, seconds);
        m_positions.push_back(std::move(synthetic));
    }
}

positions_vector gap_filler::take()
{
    // Each gap's positions are ascending already; gaps of different objects
    // interleave.
    return sorted_by_time(std::move(m_positions));
}

}  // namespace zav
