#pragma once

#include "pipeline/position_record.hpp"

#include <cstdint>
#include <vector>

namespace zav {

// Collects the synthetic positions that fill gaps in tracks.
class gap_filler
{
public:
    // Adds the positions between _previous, the same object's latest earlier
    // sample with coordinates, and _current, which has coordinates: at steps
    // of interpolation_step after _previous, when the gap lies between
    // shortest_gap and longest_gap and rounds to at least
    // smallest_filled_gap. Each is a copy of _previous with linearly
    // interpolated x and y: the k-th of n - 1 has _previous's value plus
    // k/n of the difference, rounded half away from zero, worked out
    // exactly for any int coordinates and always between the two values.
    void fill(const position_record& _previous, const position_record& _current);

    // Whether samples at _previous and _current (milliseconds since the
    // epoch) lie far enough apart for fill() to look at them, but not too
    // far.
    static bool spans_gap(std::int64_t _previous, std::int64_t _current);

    // The positions collected, ascending by time; the next ones start afresh
    // in the same buffer.
    const std::vector<position_record>& take();

private:
    std::vector<position_record> m_positions;
    bool m_taken = false;
};

}  // namespace zav
