#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace zav {

// Dense numbers for trackable uids, 0, 1, 2, ... in the order they are first
// added. Every sample of a piece is looked up, so uids of up to 16 bytes (all
// real ones) are kept inline in an open-addressing table and compared as two
// machine words; longer ones go to a general map. The strings themselves are
// not copied: the caller keeps them alive while the table is used.
class uid_numbers
{
public:
    static constexpr std::uint32_t none = UINT32_MAX;

    // The number of _uid, and whether it was added now (with _number).
    std::pair<std::uint32_t, bool> add(std::string_view _uid, std::uint32_t _number);
    // The number of _uid, or none.
    std::uint32_t find(std::string_view _uid) const;
    // Asks the processor to fetch where find(_uid) starts looking into the
    // cache: with thousands of uids, the table is larger than the cache.
    void prefetch(std::string_view _uid) const;

private:
    struct short_key
    {
        std::uint64_t low = 0;
        std::uint64_t high = 0;
        std::uint32_t length = 0;
        std::uint32_t number = none;  // none marks an empty slot
    };

    static short_key key_of(std::string_view _uid);
    static std::size_t hash_of(const short_key& _key);
    std::size_t slot_of(const short_key& _key) const;
    void grow();

    // Size a power of two, at most half full.
    std::vector<short_key> m_slots;
    std::size_t m_used = 0;
    std::unordered_map<std::string_view, std::uint32_t> m_long;
};

}  // namespace zav
