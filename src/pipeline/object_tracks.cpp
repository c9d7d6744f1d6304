#include "pipeline/object_tracks.hpp"

namespace zav {

position_record object_tracks::record_of(const position& _position)
{
    const position_record record = m_strings.record_of(_position);
    cover_strings();
    return record;
}

void object_tracks::cover_strings()
{
    if (m_samples.size() < m_strings.size()) m_samples.resize(m_strings.size());
}

const std::vector<track_sample>& object_tracks::samples(std::uint32_t _object) const
{
    static const std::vector<track_sample> none;
    return _object < m_samples.size() ? m_samples[_object] : none;
}

}  // namespace zav
