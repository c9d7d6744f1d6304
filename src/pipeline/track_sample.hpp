#pragma once

#include "pipeline/constants.hpp"

#include <cstddef>
#include <cstdint>
#include <span>

namespace zav {

// What the median filter needs of one sample with coordinates: one object's
// samples are kept as a list of these, in sequence order.
struct track_sample
{
    std::int64_t ts;      // milliseconds since the epoch
    std::uint64_t index;  // the sample's place in the sequence, as its owner numbers it
    int x;
    int y;
};

// The median window of a sample at time _t reaches back from _end (exclusive)
// to the returned index, no further than _begin: the scan stops at the first
// sample more than median_half_width away, in list order, not in time order.
inline std::size_t window_begin(std::span<const track_sample> _samples, std::size_t _begin, std::size_t _end,
                                std::int64_t _t)
{
    const std::int64_t half_width = pipeline::median_half_width.count();
    while (_end > _begin && _samples[_end - 1].ts - _t <= half_width &&
           _t - _samples[_end - 1].ts <= half_width)
        --_end;
    return _end;
}

// The same forward from _begin: one past the last sample inside the window.
inline std::size_t window_end(std::span<const track_sample> _samples, std::size_t _begin, std::int64_t _t)
{
    const std::int64_t half_width = pipeline::median_half_width.count();
    while (_begin < _samples.size() && _samples[_begin].ts - _t <= half_width &&
           _t - _samples[_begin].ts <= half_width)
        ++_begin;
    return _begin;
}

}  // namespace zav
