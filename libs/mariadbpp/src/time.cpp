#include "mariadb++/time.hpp"

#include "number_reader.hpp"

#include <stdexcept>

namespace mariadb {

namespace {

[[noreturn]] void throw_invalid_time() { throw std::invalid_argument("invalid time format"); }

u16 read_field(detail::number_reader& _reader, unsigned _max)
{
    auto value = _reader.read_u16();
    if (!value || *value > _max) throw_invalid_time();
    return *value;
}

}  // namespace

bool time::set(const std::string& _text) { return set_text(_text); }

bool time::set_text(std::string_view _text)
{
    detail::number_reader reader(_text);
    u8 hour = static_cast<u8>(read_field(reader, 23));
    u8 minute = 0;
    u8 second = 0;
    u16 millisecond = 0;
    if (reader.skip_delimiter()) {
        minute = static_cast<u8>(read_field(reader, 59));
        if (reader.skip_delimiter()) {
            // 60 and 61 are leap seconds.
            second = static_cast<u8>(read_field(reader, 61));
            if (reader.skip_delimiter()) {
                auto fraction = reader.read_fraction_ms();
                if (!fraction) throw_invalid_time();
                millisecond = *fraction;
            }
        }
    }
    set_parts(hour, minute, second, millisecond);
    return true;
}

void time::set_parts(u8 _hour, u8 _minute, u8 _second, u16 _millisecond)
{
    m_hour = _hour;
    m_minute = _minute;
    m_second = _second;
    m_millisecond = _millisecond;
}

bool time::is_valid() const { return m_hour < 24 && m_minute < 60 && m_second < 62 && m_millisecond < 1000; }

}  // namespace mariadb
