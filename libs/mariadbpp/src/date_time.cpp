#include "mariadb++/date_time.hpp"

#include "number_reader.hpp"

#include <stdexcept>

namespace mariadb {

namespace {

[[noreturn]] void throw_invalid_date() { throw std::invalid_argument("invalid date format"); }

u16 read_field(detail::number_reader& _reader, unsigned _max)
{
    auto value = _reader.read_u16();
    if (!value || *value > _max) throw_invalid_date();
    return *value;
}

}  // namespace

bool date_time::set(const std::string& _text) { return set_text(_text); }

bool date_time::set_text(std::string_view _text)
{
    detail::number_reader reader(_text);
    u16 year = read_field(reader, 0xFFFF);
    u8 month = 0;
    u8 day = 0;
    bool has_time = false;
    if (reader.skip_delimiter()) {
        month = static_cast<u8>(read_field(reader, 12));
        if (reader.skip_delimiter()) {
            day = static_cast<u8>(read_field(reader, 31));
            has_time = !reader.at_end();
        }
    }
    m_year = year;
    m_month = month;
    m_day = day;
    if (!has_time) {
        set_parts(0, 0, 0, 0);
        return true;
    }
    // The time reader skips the usual blank before the time; the ISO 8601
    // separator 'T' is stepped over here.
    std::string_view rest = reader.rest_of_line();
    if (!rest.empty() && rest.front() == 'T') rest.remove_prefix(1);
    return time::set_text(rest);
}

bool date_time::is_valid() const
{
    return m_month >= 1 && m_month <= 12 && m_day >= 1 && m_day <= 31 && time::is_valid();
}

}  // namespace mariadb
