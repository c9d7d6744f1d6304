#pragma once

#include "pipeline/trackable_index.hpp"
#include "position.hpp"

#include <span>
#include <vector>

namespace zav {

// Median of a non-empty list; reorders the list. Equal to sorting it and
// taking the middle element, or the mean of the two middle ones rounded half
// away from zero.
int median_of(std::span<int> _values);

// _older with filtered x and y, where _older are the elements from _first on
// of the sequence indexed by _index (the index holds the raw values). Goes
// object by object, so that the median windows slide instead of being
// gathered and sorted anew for every position.
positions_vector filtered_by_object(positions_vector _older, const trackable_index& _index,
                                    std::size_t _first);

// The median filter of one position at a time, over the candidates of its
// neighbourhood; its buffers are reused from one position to the next.
class median_window
{
public:
    struct coordinates
    {
        int x;
        int y;
    };

    // The filtered x and y of _current, which has coordinates: the medians of
    // its own values and those of the same object's samples next to it that
    // lie at most median_half_width away, each scan stopping at the first
    // sample further away, as seen in sequence order.
    coordinates filter(const position& _current, const trackable_index::neighbourhood& _neighbourhood);

private:
    void add(const trackable_index::sample& _sample);

    std::vector<int> m_xs;
    std::vector<int> m_ys;
};

}  // namespace zav
