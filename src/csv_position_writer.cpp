#include "csv_position_writer.hpp"

#include <charconv>
#include <cstdint>
#include <string_view>

namespace zav {

namespace {

constexpr std::size_t flush_threshold = 1024 * 1024;
constexpr std::string_view null = "\\N";

void append_padded(std::string& _out, std::string_view _text, std::size_t _width)
{
    if (_text.size() < _width)
        _out.append(_width - _text.size(), ' ');
    _out.append(_text);
}

void append_padded(std::string& _out, const boost::optional<std::string>& _text, std::size_t _width)
{
    append_padded(_out, _text ? std::string_view(*_text) : null, _width);
}

template <typename Integer>
void append_padded(std::string& _out, const boost::optional<Integer>& _value, std::size_t _width)
{
    if (!_value) {
        append_padded(_out, null, _width);
        return;
    }
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, *_value);
    append_padded(_out, std::string_view(digits, static_cast<std::size_t>(result.ptr - digits)), _width);
}

// Year, month and day of a count of days since 1970-01-01 (proleptic
// Gregorian calendar).
struct civil_date {
    long long year;
    unsigned month;
    unsigned day;
};

constexpr civil_date civil_from_days(long long _days)
{
    _days += 719468;
    const long long era = (_days >= 0 ? _days : _days - 146096) / 146097;
    const auto day_of_era = static_cast<unsigned>(_days - era * 146097);
    const unsigned year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
    const unsigned day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    const unsigned month_index = (5 * day_of_year + 2) / 153;
    const unsigned day = day_of_year - (153 * month_index + 2) / 5 + 1;
    const unsigned month = month_index < 10 ? month_index + 3 : month_index - 9;
    return {static_cast<long long>(year_of_era) + era * 400 + (month <= 2), month, day};
}

void append_two_digits(std::string& _out, unsigned _value)
{
    _out.push_back(static_cast<char>('0' + _value / 10));
    _out.push_back(static_cast<char>('0' + _value % 10));
}

// "YYYY-MM-DD hh:mm:ss.mmm000": the timestamp's own text form with three
// zeros for the microseconds, built without strftime.
void append_time(std::string& _out, const timestamp& _ts)
{
    const long long count = _ts.get_time_since_epoch().count();
    // Floor division keeps instants before 1970 consistent; no real input has
    // them.
    long long seconds = count / 1000;
    long long milliseconds = count % 1000;
    if (milliseconds < 0) {
        milliseconds += 1000;
        --seconds;
    }
    long long days = seconds / 86400;
    long long second_of_day = seconds % 86400;
    if (second_of_day < 0) {
        second_of_day += 86400;
        --days;
    }
    const civil_date date = civil_from_days(days);

    if (date.year >= 0 && date.year <= 9999) {
        const auto year = static_cast<unsigned>(date.year);
        append_two_digits(_out, year / 100);
        append_two_digits(_out, year % 100);
    } else {
        char digits[24];
        const auto result = std::to_chars(digits, digits + sizeof digits, date.year);
        _out.append(digits, result.ptr);
    }
    _out.push_back('-');
    append_two_digits(_out, date.month);
    _out.push_back('-');
    append_two_digits(_out, date.day);
    _out.push_back(' ');
    const auto sod = static_cast<unsigned>(second_of_day);
    append_two_digits(_out, sod / 3600);
    _out.push_back(':');
    append_two_digits(_out, sod / 60 % 60);
    _out.push_back(':');
    append_two_digits(_out, sod % 60);
    _out.push_back('.');
    const auto ms = static_cast<unsigned>(milliseconds);
    _out.push_back(static_cast<char>('0' + ms / 100));
    append_two_digits(_out, ms % 100);
    _out.append("000");
}

void append_line(std::string& _out, const position& _p)
{
    append_padded(_out, std::string_view(_p.trackable_uid), 22);
    _out.push_back('|');
    append_padded(_out, _p.mac_address, 12);
    _out.push_back('|');
    // The 26-character time is wider than its column width of 17 and so is
    // never padded.
    append_time(_out, _p.ts);
    _out.push_back('|');
    append_padded(_out, _p.x, 7);
    _out.push_back('|');
    append_padded(_out, _p.y, 7);
    _out.push_back('|');
    append_padded(_out, _p.z, 7);
    _out.push_back('|');
    append_padded(_out, _p.area_uid, 22);
    _out.push_back('|');
    append_padded(_out, _p.project_uid, 22);
    _out.push_back('|');
    append_padded(_out, _p.inactive, 7);
    _out.push_back('\n');
}

}  // namespace

csv_position_writer::csv_position_writer(output_file& _file) : m_file(_file)
{
    m_buffer.reserve(flush_threshold + 4096);
}

void csv_position_writer::write(const position& _position)
{
    append_line(m_buffer, _position);
    if (m_buffer.size() >= flush_threshold)
        flush();
}

void csv_position_writer::flush()
{
    m_file.write(m_buffer);
    m_buffer.clear();
}

std::string csv_position_writer::format(const position& _position)
{
    std::string line;
    append_line(line, _position);
    return line;
}

}  // namespace zav
