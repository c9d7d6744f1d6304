#pragma once

#include "position.hpp"

namespace zav {

// Filtered x and y of one position.
struct coordinates
{
    int x;
    int y;
};

// Whether a position takes part in filtering and gap filling: x and y both
// present (z plays no role).
inline bool has_coordinates(const position& _position) { return _position.x && _position.y; }

}  // namespace zav
