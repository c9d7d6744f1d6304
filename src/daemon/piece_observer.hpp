#pragma once

#include <cstddef>

#include "core/timestamp.hpp"

namespace zav {

// One window that the processing runner has moved into positions.
struct moved_piece
{
    std::size_t raw_rows = 0;
    std::size_t written_rows = 0;
    libs::core::timestamp newest_written;
};

// Hears from the runner after each piece it has written, on the runner's
// thread, also in the middle of a long catch-up. Must not throw.
class piece_observer
{
public:
    virtual ~piece_observer() = default;
    virtual void piece_moved(const moved_piece& _piece) noexcept = 0;
};

}  // namespace zav
