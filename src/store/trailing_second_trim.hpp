#pragma once

#include "position.hpp"

namespace zav {

// Removes the trailing run of positions that share the whole second of the
// last one, in row order: that second may still be incomplete, so its
// positions are left for the next window. When every position lies in that
// second, nothing is left. Positions of that second standing before a
// position of another second stay.
positions_vector trim_trailing_second(positions_vector _positions);

}  // namespace zav
