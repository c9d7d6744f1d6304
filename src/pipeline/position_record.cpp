#include "pipeline/position_record.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <stdexcept>

namespace zav {

namespace {

std::uint64_t load8(const char* _bytes)
{
    std::uint64_t word;
    std::memcpy(&word, _bytes, sizeof word);
    return word;
}

std::uint32_t load4(const char* _bytes)
{
    std::uint32_t word;
    std::memcpy(&word, _bytes, sizeof word);
    return word;
}

// Byte-wise equality, inline for the short texts of positions (uids, MAC
// addresses, areas): every position compares a few texts with those of its
// tag's last one, and a call of memcmp for each costs more than the compare.
bool same_text(std::string_view _known, std::string_view _text)
{
    const std::size_t n = _text.size();
    if (_known.size() != n) return false;
    const char* a = _known.data();
    const char* b = _text.data();
    if (n > 32) return std::memcmp(a, b, n) == 0;
    // Four words cover any length from 16 to 32 (a MAC address has 17
    // characters), two overlapping words any from 8 to 16, two overlapping
    // halves any from 4 to 8.
    if (n > 16)
        return load8(a) == load8(b) && load8(a + 8) == load8(b + 8) &&
               load8(a + n - 16) == load8(b + n - 16) && load8(a + n - 8) == load8(b + n - 8);
    if (n >= 8) return load8(a) == load8(b) && load8(a + n - 8) == load8(b + n - 8);
    if (n >= 4) return load4(a) == load4(b) && load4(a + n - 4) == load4(b + n - 4);
    for (std::size_t i = 0; i < n; ++i)
        if (a[i] != b[i]) return false;
    return true;
}

void assign(boost::optional<std::string>& _out, const std::string* _text)
{
    if (_text == nullptr)
        _out = boost::none;
    else if (_out)
        _out->assign(*_text);
    else
        _out = *_text;
}

}  // namespace

std::uint32_t record_strings::number_of(std::string_view _text)
{
    // Consecutive positions of one tag repeat the same texts.
    if (m_last != position_record::absent && same_text(m_last_text, _text)) return m_last;
    std::uint32_t number = m_numbers.find(_text);
    if (number == uid_numbers::none) {
        number = static_cast<std::uint32_t>(m_texts.size());
        m_texts.emplace_back(_text);
        m_places.push_back({&m_texts.back(), m_texts.back().data()});
        m_numbers.add(m_texts.back(), number);
    }
    if (m_last != number) m_last_text.assign(_text);
    m_last = number;
    return number;
}

std::uint32_t record_strings::find(std::string_view _text) const
{
    const std::uint32_t number = m_numbers.find(_text);
    return number == uid_numbers::none ? position_record::absent : number;
}

std::uint32_t record_strings::number_of(std::string_view _text, std::uint32_t _guess)
{
    if (_guess != position_record::absent && same_text(m_texts[_guess], _text)) return _guess;
    return number_of(_text);
}

void record_strings::adopt(const std::vector<std::string>& _texts)
{
    for (const std::string& text : _texts) {
        const std::size_t expected = m_texts.size();
        if (number_of(text) != expected) throw std::logic_error("text \"" + text + "\" was numbered twice");
    }
}

void record_strings::texts_from(std::size_t _first, std::vector<std::string>& _out) const
{
    for (std::size_t n = _first; n < m_texts.size(); ++n) _out.push_back(m_texts[n]);
}

void record_strings::number_texts(position_record& _record, std::string_view _uid,
                                  const std::string_view* _mac_address, const std::string_view* _area_uid,
                                  const std::string_view* _project_uid)
{
    _record.uid = number_of(_uid);
    if (m_last_of_uid.size() <= _record.uid) m_last_of_uid.resize(_record.uid + 1);
    last_texts& last = m_last_of_uid[_record.uid];
    if (_mac_address) {
        // The uid's last MAC address is compared where it is kept inline,
        // next to the uid's other last texts: with thousands of tags, the
        // table's copy lies elsewhere and out of the cache.
        if (last.mac_address != position_record::absent && last.mac_size <= sizeof last.mac_characters &&
            same_text(std::string_view(last.mac_characters, last.mac_size), *_mac_address)) {
            _record.mac_address = last.mac_address;
        } else {
            last.mac_address = _record.mac_address = number_of(*_mac_address, last.mac_address);
            last.mac_size =
                static_cast<std::uint8_t>(std::min(_mac_address->size(), sizeof last.mac_characters + 1));
            if (last.mac_size <= sizeof last.mac_characters)
                std::memcpy(last.mac_characters, _mac_address->data(), last.mac_size);
        }
    }
    if (_area_uid) last.area_uid = _record.area_uid = number_of(*_area_uid, last.area_uid);
    if (_project_uid) last.project_uid = _record.project_uid = number_of(*_project_uid, last.project_uid);
}

position_record record_strings::record_of(const position& _position)
{
    position_record r;
    r.ts = _position.ts.get_time_since_epoch().count();
    r.trackable_id = _position.trackable_id;
    const auto view = [](const boost::optional<std::string>& _text) {
        return _text ? std::optional<std::string_view>(*_text) : std::nullopt;
    };
    const auto mac_address = view(_position.mac_address);
    const auto area_uid = view(_position.area_uid);
    const auto project_uid = view(_position.project_uid);
    number_texts(r, _position.trackable_uid, mac_address ? &*mac_address : nullptr,
                 area_uid ? &*area_uid : nullptr, project_uid ? &*project_uid : nullptr);
    if (_position.x) r.x = *_position.x, r.present |= position_record::has_x;
    if (_position.y) r.y = *_position.y, r.present |= position_record::has_y;
    if (_position.z) r.z = *_position.z, r.present |= position_record::has_z;
    if (_position.inactive) r.inactive = *_position.inactive, r.present |= position_record::has_inactive;
    return r;
}

void record_strings::fill(const position_record& _record, position& _out) const
{
    const auto text_of = [&](std::uint32_t _n) {
        return _n == position_record::absent ? nullptr : &m_texts[_n];
    };
    _out.trackable_id = _record.trackable_id;
    _out.trackable_uid.assign(m_texts[_record.uid]);
    assign(_out.mac_address, text_of(_record.mac_address));
    _out.ts = timestamp(std::chrono::milliseconds(_record.ts));
    _out.x = (_record.present & position_record::has_x) ? boost::optional<int>(_record.x) : boost::none;
    _out.y = (_record.present & position_record::has_y) ? boost::optional<int>(_record.y) : boost::none;
    _out.z = (_record.present & position_record::has_z) ? boost::optional<int>(_record.z) : boost::none;
    assign(_out.area_uid, text_of(_record.area_uid));
    assign(_out.project_uid, text_of(_record.project_uid));
    _out.inactive = (_record.present & position_record::has_inactive)
                        ? boost::optional<short>(_record.inactive)
                        : boost::none;
}

void record_strings::prefetch(const position_record& _record) const
{
    const text_place& uid = m_places[_record.uid];
    __builtin_prefetch(uid.text);
    __builtin_prefetch(uid.characters);
    if (_record.mac_address != position_record::absent) {
        const text_place& mac_address = m_places[_record.mac_address];
        __builtin_prefetch(mac_address.text);
        __builtin_prefetch(mac_address.characters);
    }
}

position record_strings::position_of(const position_record& _record) const
{
    position p;
    fill(_record, p);
    return p;
}

}  // namespace zav
