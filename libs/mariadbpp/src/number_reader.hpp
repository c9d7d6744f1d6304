#pragma once

#include "mariadb++/types.hpp"

#include <optional>
#include <string_view>

namespace mariadb::detail {

// Reads SQL text field by field, the way a formatted stream read of unsigned
// 16-bit numbers would: leading blanks before a number are skipped, a number
// is one or more decimal digits and fails beyond 65535.
class number_reader
{
public:
    explicit number_reader(std::string_view _text) : m_text(_text) {}

    bool at_end() const { return m_pos >= m_text.size(); }

    std::optional<u16> read_u16()
    {
        skip_blanks();
        std::size_t start = m_pos;
        unsigned value = 0;
        while (m_pos < m_text.size() && is_digit(m_text[m_pos])) {
            value = value * 10 + static_cast<unsigned>(m_text[m_pos] - '0');
            if (value > 0xFFFF) return std::nullopt;
            ++m_pos;
        }
        if (m_pos == start) return std::nullopt;
        return static_cast<u16>(value);
    }

    // Skips one character of any kind; false at the end of the text.
    bool skip_delimiter()
    {
        if (at_end()) return false;
        ++m_pos;
        return true;
    }

    // Milliseconds of a decimal fraction of a second: its first three digits,
    // shorter fractions padded with zeros; digits beyond the third are
    // dropped, not rounded, as the store keeps whole milliseconds.
    std::optional<u16> read_fraction_ms()
    {
        std::size_t start = m_pos;
        unsigned value = 0;
        unsigned digits = 0;
        while (m_pos < m_text.size() && is_digit(m_text[m_pos])) {
            if (digits < 3) {
                value = value * 10 + static_cast<unsigned>(m_text[m_pos] - '0');
                ++digits;
            }
            ++m_pos;
        }
        if (m_pos == start) return std::nullopt;
        for (; digits < 3; ++digits) value *= 10;
        return static_cast<u16>(value);
    }

    std::string_view rest_of_line() const
    {
        std::string_view rest = m_text.substr(m_pos);
        return rest.substr(0, rest.find('\n'));
    }

private:
    static bool is_digit(char _c) { return _c >= '0' && _c <= '9'; }

    void skip_blanks()
    {
        while (m_pos < m_text.size() &&
               (m_text[m_pos] == ' ' || m_text[m_pos] == '\t' || m_text[m_pos] == '\n' ||
                m_text[m_pos] == '\r' || m_text[m_pos] == '\v' || m_text[m_pos] == '\f'))
            ++m_pos;
    }

    std::string_view m_text;
    std::size_t m_pos = 0;
};

}  // namespace mariadb::detail
