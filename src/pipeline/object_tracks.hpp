#pragma once

#include "pipeline/position_record.hpp"
#include "pipeline/track_sample.hpp"

#include <cstdint>
#include <string_view>
#include <vector>

namespace zav {

// The samples with coordinates of a sequence of positions, grouped by object
// (byte-wise equal trackable_uid), each object's samples in sequence order and
// stored next to each other. A scan over "the same object's samples, by
// sequence index" then visits only those samples instead of walking over
// every other object's. An object is known by the number of its uid among the
// texts of the records.
class object_tracks
{
public:
    record_strings& strings() { return m_strings; }
    const record_strings& strings() const { return m_strings; }

    // The record of _position, its uid numbered.
    position_record record_of(const position& _position);
    // The object of _uid, or position_record::absent.
    std::uint32_t find(std::string_view _uid) const { return m_strings.find(_uid); }

    // Gives every text of strings() a list of samples, after texts were
    // numbered there directly.
    void cover_strings();

    // Objects are numbered below size().
    std::size_t size() const { return m_samples.size(); }
    std::vector<track_sample>& samples(std::uint32_t _object) { return m_samples[_object]; }
    const std::vector<track_sample>& samples(std::uint32_t _object) const;

private:
    record_strings m_strings;
    std::vector<std::vector<track_sample>> m_samples;
};

}  // namespace zav
