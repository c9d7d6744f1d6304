#pragma once

#include "pipeline/coordinates.hpp"
#include "pipeline/track_sample.hpp"

#include <cstddef>
#include <span>
#include <vector>

namespace zav {

// Medians of x and y over windows of one object's samples. Consecutive
// samples have overlapping windows that move forward through the samples, so
// the values that leave are removed and those that enter are inserted instead
// of sorting every window anew.
class sliding_median
{
public:
    // The medians over _samples[_first] to _samples[_last], inclusive. Calls
    // that follow each other must pass the same _samples until reset().
    coordinates over(std::span<const track_sample> _samples, std::size_t _first, std::size_t _last);

    // Forgets the window, before moving to another object's samples.
    void reset() { m_empty = true; }

    // Median of a non-empty ascending list: the middle element, or the mean of
    // the two middle ones rounded half away from zero, worked out exactly for
    // any int values (so it lies between them and never overflows).
    static int of_sorted(std::span<const int> _values);

private:
    void remove(const track_sample& _sample);
    void insert(const track_sample& _sample);

    // Ascending values of the window _samples[m_first] to _samples[m_last].
    std::vector<int> m_xs;
    std::vector<int> m_ys;
    std::size_t m_first = 0;
    std::size_t m_last = 0;
    bool m_empty = true;
};

}  // namespace zav
