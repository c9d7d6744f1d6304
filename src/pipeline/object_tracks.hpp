#pragma once

#include "pipeline/track_sample.hpp"
#include "pipeline/uid_numbers.hpp"

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

namespace zav {

// The samples with coordinates of a sequence of positions, grouped by object
// (byte-wise equal trackable_uid), each object's samples in sequence order and
// stored next to each other. A scan over "the same object's samples, by
// sequence index" then visits only those samples instead of walking over
// every other object's. Objects are numbered 0, 1, 2, ... as they first
// appear; their uids are copied once.
class object_tracks
{
public:
    // The number of _uid, added when it is new.
    std::uint32_t number_of(std::string_view _uid);
    // The number of _uid, or uid_numbers::none.
    std::uint32_t find(std::string_view _uid) const;

    std::size_t size() const { return m_samples.size(); }
    std::vector<track_sample>& samples(std::uint32_t _object) { return m_samples[_object]; }
    const std::vector<track_sample>& samples(std::uint32_t _object) const { return m_samples[_object]; }

private:
    uid_numbers m_numbers;
    // A deque, so that the views uid_numbers keeps of the uids stay valid.
    std::deque<std::string> m_uids;
    std::vector<std::vector<track_sample>> m_samples;
    // Consecutive samples of one object are common (a single tag, or a tag
    // reporting in bursts); they skip the hash lookup.
    std::uint32_t m_last = uid_numbers::none;
};

}  // namespace zav
