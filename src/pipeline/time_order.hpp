#pragma once

#include "position.hpp"

namespace zav {

// Ascending by time; equal times keep their order, which is one of the orders
// an unstable sort may give. Moves no position when the list is in order
// already, as a piece usually is.
positions_vector sorted_by_time(positions_vector _positions);

// Both inputs ascending by time; the result too. Merges in place from the back
// when _positions has room, as a piece's buffer has after its held-back part
// was cut off.
positions_vector merged_by_time(positions_vector _positions, positions_vector _others);

}  // namespace zav
