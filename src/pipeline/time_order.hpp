#pragma once

#include "pipeline/position_record.hpp"
#include "position.hpp"

#include <vector>

namespace zav {

// Ascending by time; equal times keep their order, which is one of the orders
// an unstable sort may give. Moves no position when the list is in order
// already, as a piece usually is.
positions_vector sorted_by_time(positions_vector _positions);
std::vector<position_record> sorted_by_time(std::vector<position_record> _records);

// Visits the positions of two ranges, each ascending by time, ascending by
// time; of equal times those of the first range come first. _ahead(it) is
// called before the first range's *it is visited.
template <class First, class Second, class Visit, class Ahead>
void for_each_merged_by_time(First _first, First _first_end, Second _second, Second _second_end,
                             Visit&& _visit, Ahead&& _ahead)
{
    for (; _first != _first_end; ++_first) {
        _ahead(_first);
        for (; _second != _second_end && _second->ts < _first->ts; ++_second) _visit(*_second);
        _visit(*_first);
    }
    for (; _second != _second_end; ++_second) _visit(*_second);
}

template <class First, class Second, class Visit>
void for_each_merged_by_time(First _first, First _first_end, Second _second, Second _second_end,
                             Visit&& _visit)
{
    for_each_merged_by_time(_first, _first_end, _second, _second_end, _visit, [](First) {});
}

}  // namespace zav
