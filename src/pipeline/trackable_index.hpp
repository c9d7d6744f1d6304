#pragma once

#include "pipeline/uid_numbers.hpp"
#include "position.hpp"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <string_view>
#include <vector>

namespace zav {

// Whether a position takes part in filtering and gap filling: x and y both
// present (z plays no role).
inline bool has_coordinates(const position& _position) { return _position.x && _position.y; }

// The samples with coordinates (x and y both present) of a sequence of
// positions, grouped by object (byte-wise equal trackable_uid), each object's
// samples in sequence order and stored next to each other. A scan over "the
// same object's samples with coordinates, by sequence index" then visits only
// those samples, in contiguous memory, instead of walking over every other
// object's.
//
// The sequence is given as consecutive parts (a carry-over followed by the
// current piece) so that it need not be concatenated. The parts must outlive
// the index: object names are kept as views into them.
class trackable_index
{
public:
    struct sample
    {
        std::int64_t ts;    // milliseconds since the epoch
        std::size_t index;  // index in the sequence
        int x;
        int y;
    };

    // The same object's samples with coordinates that come before and after a
    // given sequence index, excluding the sample at that index itself.
    struct neighbourhood
    {
        std::span<const sample> before;  // ascending index; scan from the back
        std::span<const sample> after;   // ascending index
    };

    // The sequence is the concatenation of _parts, in order.
    explicit trackable_index(std::vector<std::span<const position>> _parts);

    std::size_t size() const { return m_slot_of_index.size(); }
    std::size_t objects() const { return m_object_begin.size() - 1; }
    // The samples of one object (0 <= _object < objects()), ascending by index.
    std::span<const sample> samples_of(std::size_t _object) const;
    const position& at(std::size_t _index) const;

    // Neighbourhood within the samples of the object named by _current's
    // trackable_uid, split at sequence index _index. _current need not be the
    // element at _index, nor have coordinates.
    neighbourhood around(const position& _current, std::size_t _index) const;
    // The same for the element at _index itself; empty without coordinates.
    neighbourhood around(std::size_t _index) const;

private:
    static constexpr std::uint32_t no_slot = std::numeric_limits<std::uint32_t>::max();

    neighbourhood split(std::uint32_t _object, std::size_t _index) const;

    std::vector<std::span<const position>> m_parts;
    uid_numbers m_object_of_uid;
    // Samples of object o are m_samples[m_object_begin[o], m_object_begin[o + 1]).
    std::vector<std::size_t> m_object_begin;
    std::vector<sample> m_samples;
    std::vector<std::uint32_t> m_object_of_slot;
    // Per sequence index: its slot in m_samples, or no_slot without coordinates.
    std::vector<std::uint32_t> m_slot_of_index;
};

}  // namespace zav
