#include "pipeline/object_tracks.hpp"

namespace zav {

std::uint32_t object_tracks::number_of(std::string_view _uid)
{
    if (m_last != uid_numbers::none && m_uids[m_last] == _uid) return m_last;
    std::uint32_t number = m_numbers.find(_uid);
    if (number == uid_numbers::none) {
        number = static_cast<std::uint32_t>(m_samples.size());
        m_uids.emplace_back(_uid);
        m_numbers.add(m_uids.back(), number);
        m_samples.emplace_back();
    }
    m_last = number;
    return number;
}

std::uint32_t object_tracks::find(std::string_view _uid) const { return m_numbers.find(_uid); }

}  // namespace zav
