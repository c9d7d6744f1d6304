#pragma once

#include "position.hpp"

#include <cstdint>

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
    // interpolated x and y.
    void fill(const position& _previous, const position& _current);

    // The positions collected, ascending by time.
    positions_vector take();

private:
    positions_vector m_positions;
};

}  // namespace zav
