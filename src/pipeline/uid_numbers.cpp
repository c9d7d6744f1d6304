#include "pipeline/uid_numbers.hpp"

#include <cstring>

namespace zav {

namespace {

constexpr std::size_t inline_length = 16;

std::uint64_t word_of(const char* _bytes, std::size_t _length)
{
    if (_length >= 8) {
        std::uint64_t word;
        std::memcpy(&word, _bytes, sizeof word);
        return word;
    }
    std::uint64_t word = 0;
    for (std::size_t i = 0; i < _length; ++i)
        word |= std::uint64_t{static_cast<unsigned char>(_bytes[i])} << (8 * i);
    return word;
}

}  // namespace

uid_numbers::short_key uid_numbers::key_of(std::string_view _uid)
{
    short_key key;
    key.length = static_cast<std::uint32_t>(_uid.size());
    key.low = word_of(_uid.data(), _uid.size());
    if (_uid.size() > 8) key.high = word_of(_uid.data() + 8, _uid.size() - 8);
    return key;
}

std::size_t uid_numbers::hash_of(const short_key& _key)
{
    std::uint64_t hash = (_key.low ^ (_key.length * 0x9E3779B97F4A7C15ULL)) * 0xBF58476D1CE4E5B9ULL;
    hash = (hash ^ (hash >> 31) ^ _key.high) * 0x94D049BB133111EBULL;
    return static_cast<std::size_t>(hash ^ (hash >> 29));
}

// The slot holding _key, or the empty slot where it belongs.
std::size_t uid_numbers::slot_of(const short_key& _key) const
{
    const std::size_t mask = m_slots.size() - 1;
    for (std::size_t slot = hash_of(_key) & mask;; slot = (slot + 1) & mask) {
        const short_key& s = m_slots[slot];
        if (s.number == none || (s.low == _key.low && s.high == _key.high && s.length == _key.length))
            return slot;
    }
}

void uid_numbers::grow()
{
    std::vector<short_key> old = std::move(m_slots);
    m_slots.assign(old.empty() ? 64 : 2 * old.size(), short_key{});
    for (const short_key& key : old)
        if (key.number != none) m_slots[slot_of(key)] = key;
}

std::pair<std::uint32_t, bool> uid_numbers::add(std::string_view _uid, std::uint32_t _number)
{
    if (_uid.size() > inline_length) {
        const auto [it, added] = m_long.try_emplace(_uid, _number);
        return {it->second, added};
    }
    if (2 * (m_used + 1) > m_slots.size()) grow();
    short_key key = key_of(_uid);
    short_key& slot = m_slots[slot_of(key)];
    if (slot.number != none) return {slot.number, false};
    key.number = _number;
    slot = key;
    ++m_used;
    return {_number, true};
}

std::uint32_t uid_numbers::find(std::string_view _uid) const
{
    if (_uid.size() > inline_length) {
        const auto it = m_long.find(_uid);
        return it == m_long.end() ? none : it->second;
    }
    if (m_slots.empty()) return none;
    return m_slots[slot_of(key_of(_uid))].number;
}

void uid_numbers::prefetch(std::string_view _uid) const
{
    if (_uid.size() > inline_length || m_slots.empty()) return;
    __builtin_prefetch(&m_slots[hash_of(key_of(_uid)) & (m_slots.size() - 1)]);
}

}  // namespace zav
