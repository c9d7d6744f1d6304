#include "pipeline/trackable_index.hpp"

#include "core/exception.hpp"

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace zav {

trackable_index::trackable_index(std::vector<std::span<const position>> _parts) : m_parts(std::move(_parts))
{
    std::size_t count = 0;
    for (const auto& part : m_parts) count += part.size();
    CORE_CHECK(count < no_slot);

    // First pass: a dense number per object and the number of samples of
    // each. What the index keeps of a sample is gathered here too, so that
    // the second pass reads compact records instead of the positions again.
    std::vector<sample> gathered;
    std::vector<std::uint32_t> object_of_gathered;
    gathered.reserve(count);
    object_of_gathered.reserve(count);
    std::vector<std::size_t> samples_per_object;
    std::string_view last_uid;
    std::uint32_t last_object = no_slot;
    std::size_t i = 0;
    for (const auto& part : m_parts) {
        for (const position& p : part) {
            if (has_coordinates(p)) {
                // Consecutive samples of one object are common (a single tag, or
                // a tag reporting in bursts); they skip the hash lookup.
                if (last_object == no_slot || p.trackable_uid != last_uid) {
                    const auto [object, added] = m_object_of_uid.add(
                        p.trackable_uid, static_cast<std::uint32_t>(samples_per_object.size()));
                    if (added) samples_per_object.push_back(0);
                    last_uid = p.trackable_uid;
                    last_object = object;
                }
                gathered.push_back(sample{p.ts.get_time_since_epoch().count(), i, *p.x, *p.y});
                object_of_gathered.push_back(last_object);
                ++samples_per_object[last_object];
            }
            ++i;
        }
    }

    // Second pass: counting sort of the samples by object, stable in index.
    m_object_begin.assign(samples_per_object.size() + 1, 0);
    for (std::size_t o = 0; o < samples_per_object.size(); ++o)
        m_object_begin[o + 1] = m_object_begin[o] + samples_per_object[o];
    std::vector<std::size_t> next(m_object_begin.begin(), m_object_begin.end() - 1);
    m_samples.resize(m_object_begin.back());
    m_object_of_slot.resize(m_samples.size());
    m_slot_of_index.assign(count, no_slot);
    for (std::size_t g = 0; g < gathered.size(); ++g) {
        const std::uint32_t object = object_of_gathered[g];
        const std::size_t slot = next[object]++;
        m_samples[slot] = gathered[g];
        m_object_of_slot[slot] = object;
        m_slot_of_index[gathered[g].index] = static_cast<std::uint32_t>(slot);
    }
}

const position& trackable_index::at(std::size_t _index) const
{
    for (const auto& part : m_parts) {
        if (_index < part.size()) return part[_index];
        _index -= part.size();
    }
    throw std::out_of_range("trackable_index::at");
}

trackable_index::neighbourhood trackable_index::around(const position& _current, std::size_t _index) const
{
    // The usual case: _current is the indexed sample at _index itself.
    const std::uint32_t slot = _index < m_slot_of_index.size() ? m_slot_of_index[_index] : no_slot;
    if (slot != no_slot && at(_index).trackable_uid == _current.trackable_uid) return around(_index);
    const std::uint32_t object = m_object_of_uid.find(_current.trackable_uid);
    if (object == uid_numbers::none) return {};
    return split(object, _index);
}

std::span<const trackable_index::sample> trackable_index::samples_of(std::size_t _object) const
{
    return std::span<const sample>(m_samples).subspan(m_object_begin[_object],
                                                      m_object_begin[_object + 1] - m_object_begin[_object]);
}

trackable_index::neighbourhood trackable_index::around(std::size_t _index) const
{
    const std::uint32_t slot = m_slot_of_index.at(_index);
    if (slot == no_slot) return {};
    const std::uint32_t object = m_object_of_slot[slot];
    const auto all = samples_of(object);
    const std::size_t rank = slot - m_object_begin[object];
    return neighbourhood{all.first(rank), all.subspan(rank + 1)};
}

trackable_index::neighbourhood trackable_index::split(std::uint32_t _object, std::size_t _index) const
{
    const auto all = samples_of(_object);
    const auto by_index = [](const sample& _s, std::size_t _i) { return _s.index < _i; };
    const auto first_not_before = std::lower_bound(all.begin(), all.end(), _index, by_index);
    const std::size_t rank = static_cast<std::size_t>(first_not_before - all.begin());
    const bool is_self = first_not_before != all.end() && first_not_before->index == _index;
    return neighbourhood{all.first(rank), all.subspan(rank + (is_self ? 1 : 0))};
}

}  // namespace zav
