#pragma once

#include "pipeline/uid_numbers.hpp"
#include "position.hpp"

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

namespace zav {

// A position as the pipeline keeps it between pieces: 48 bytes, the time as
// an integer and every text as a number in a record_strings table (one copy
// per distinct text), so that the 10 s held back and carried over stay small
// and moving them allocates nothing.
struct position_record
{
    static constexpr std::uint32_t absent = UINT32_MAX;
    enum : std::uint8_t { has_x = 1, has_y = 2, has_z = 4, has_inactive = 8 };

    std::int64_t ts = 0;  // milliseconds since the epoch
    long long trackable_id = 0;
    int x = 0;
    int y = 0;
    int z = 0;
    std::uint32_t uid = 0;  // a text number, never absent
    std::uint32_t mac_address = absent;
    std::uint32_t area_uid = absent;
    std::uint32_t project_uid = absent;
    short inactive = 0;
    std::uint8_t present = 0;

    bool has_coordinates() const { return (present & (has_x | has_y)) == (has_x | has_y); }
};

// Numbers for the texts of position records, 0, 1, 2, ... in the order they
// are first seen. Grows with the number of distinct texts, which the tags,
// areas and projects of a site keep small.
class record_strings
{
public:
    std::uint32_t number_of(std::string_view _text);
    // The number of _text, or position_record::absent.
    std::uint32_t find(std::string_view _text) const;
    // Asks for what numbering _text will read, ahead of its use.
    void prefetch_number(std::string_view _text) const { m_numbers.prefetch(_text); }
    std::size_t size() const { return m_texts.size(); }
    const std::string& text(std::uint32_t _number) const { return m_texts[_number]; }

    // Numbers _texts, numbered in the same order in another table from
    // where this one's numbers end: both tables then agree. Throws
    // std::logic_error when a text is known already.
    void adopt(const std::vector<std::string>& _texts);
    // Appends the texts numbered from _first on to _out, in number order.
    void texts_from(std::size_t _first, std::vector<std::string>& _out) const;

    position_record record_of(const position& _position);
    // Sets the text numbers of _record, adding the texts not known yet; a
    // null text is absent. The MAC address, area and project are compared
    // with those of the uid's last record before they are looked up.
    void number_texts(position_record& _record, std::string_view _uid, const std::string_view* _mac_address,
                      const std::string_view* _area_uid, const std::string_view* _project_uid);
    // Sets _out to the position _record stands for, reusing the capacity of
    // its strings.
    void fill(const position_record& _record, position& _out) const;
    position position_of(const position_record& _record) const;
    // Asks the processor to fetch the uid and the MAC address of _record into
    // the cache ahead of their use: with thousands of tags they lie far apart.
    void prefetch(const position_record& _record) const;

private:
    // The number of _text, trying _guess first.
    std::uint32_t number_of(std::string_view _text, std::uint32_t _guess);

    uid_numbers m_numbers;
    // A deque, so that the views uid_numbers keeps of the texts stay valid.
    std::deque<std::string> m_texts;
    // Per text number, where the string and its characters lie, for
    // prefetch() to find them without a walk through the deque.
    struct text_place
    {
        const std::string* text;
        const char* characters;
    };
    std::vector<text_place> m_places;
    // The text numbered last, and a copy of it: with thousands of tags, the
    // table's copy is out of the cache by the time the next line compares.
    std::uint32_t m_last = position_record::absent;
    std::string m_last_text;
    // Per uid number, the MAC address, area and project of its last record:
    // a tag's texts rarely change, so they are compared instead of looked up.
    struct last_texts
    {
        std::uint32_t mac_address = position_record::absent;
        std::uint32_t area_uid = position_record::absent;
        std::uint32_t project_uid = position_record::absent;
        // The characters of mac_address, when it has at most 19 (a MAC
        // address has 17); mac_size is 20 for a longer one.
        std::uint8_t mac_size = 0;
        char mac_characters[19] = {};
    };
    std::vector<last_texts> m_last_of_uid;
};

}  // namespace zav
