#include "batch/csv_position_writer.hpp"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

namespace zav {

namespace {

constexpr std::size_t flush_threshold = 1024 * 1024;
constexpr std::string_view null = "\\N";

// Widths of the columns; the time (26 characters) is wider than its column
// width of 17 and so is never padded.
constexpr std::size_t uid_width = 22;
constexpr std::size_t mac_width = 12;
constexpr std::size_t number_width = 7;
constexpr std::size_t text_width = 22;
constexpr std::size_t time_length_bound = 48 + 4 + 3;
// Room a line may use beyond its own end: short fields are padded with one
// fixed-size store of blanks that may reach past them.
constexpr std::size_t slack = 32;
constexpr char blanks[slack + 1] = "                                ";
// Everything of a line but its texts: the widths, the time, the numbers at
// their longest (11 characters), separators, line end and the room that
// padding may write beyond the line.
constexpr std::size_t fixed_length_bound =
    uid_width + mac_width + time_length_bound + 4 * 11 + 2 * text_width + 9 + slack;

// Writing goes through a raw cursor into room reserved for the whole line:
// no capacity test per character.
char* put(char* _out, std::string_view _text)
{
    // Short texts (uids, areas, numbers) are copied inline; a call of
    // memcpy per field would cost more than the copy.
    if (_text.size() <= 16) {
        for (std::size_t i = 0; i < _text.size(); ++i) _out[i] = _text[i];
        return _out + _text.size();
    }
    std::memcpy(_out, _text.data(), _text.size());
    return _out + _text.size();
}

char* put_padded(char* _out, std::string_view _text, std::size_t _width)
{
    if (_text.size() < _width) {
        // The blanks beyond the padding are overwritten by the text and the
        // fields after it, or lie in the slack.
        std::memcpy(_out, blanks, slack);
        _out += _width - _text.size();
    }
    return put(_out, _text);
}

char* put_padded(char* _out, const boost::optional<std::string>& _text, std::size_t _width)
{
    return put_padded(_out, _text ? std::string_view(*_text) : null, _width);
}

template <typename Integer>
char* put_padded(char* _out, const boost::optional<Integer>& _value, std::size_t _width)
{
    if (!_value) return put_padded(_out, null, _width);
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, *_value);
    return put_padded(_out, std::string_view(digits, static_cast<std::size_t>(result.ptr - digits)), _width);
}

// Year, month and day of a count of days since 1970-01-01 (proleptic
// Gregorian calendar).
struct civil_date
{
    long long year;
    unsigned month;
    unsigned day;
};

constexpr civil_date civil_from_days(long long _days)
{
    _days += 719468;
    const long long era = (_days >= 0 ? _days : _days - 146096) / 146097;
    const auto day_of_era = static_cast<unsigned>(_days - era * 146097);
    const unsigned year_of_era =
        (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
    const unsigned day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    const unsigned month_index = (5 * day_of_year + 2) / 153;
    const unsigned day = day_of_year - (153 * month_index + 2) / 5 + 1;
    const unsigned month = month_index < 10 ? month_index + 3 : month_index - 9;
    return {static_cast<long long>(year_of_era) + era * 400 + (month <= 2), month, day};
}

char* put_two_digits(char* _out, unsigned _value)
{
    _out[0] = static_cast<char>('0' + _value / 10);
    _out[1] = static_cast<char>('0' + _value % 10);
    return _out + 2;
}

// Seconds and milliseconds of a count, by floor division so that instants
// before 1970 stay consistent; no real input has them.
struct split_time
{
    long long seconds;
    unsigned milliseconds;
};

split_time split(const timestamp& _ts)
{
    const long long count = _ts.get_time_since_epoch().count();
    long long seconds = count / 1000;
    long long milliseconds = count % 1000;
    if (milliseconds < 0) {
        milliseconds += 1000;
        --seconds;
    }
    return {seconds, static_cast<unsigned>(milliseconds)};
}

// "YYYY-MM-DD hh:mm:ss.mmm000": the timestamp's own text form with three
// zeros for the microseconds.
char* put_time(char* _out, const timestamp& _ts, csv_position_writer::second_text_cache& _cache)
{
    const split_time t = split(_ts);
    _out = put(_out, _cache.text(t.seconds));
    *_out++ = '.';
    *_out++ = static_cast<char>('0' + t.milliseconds / 100);
    _out = put_two_digits(_out, t.milliseconds % 100);
    return put(_out, "000");
}

std::size_t line_length_bound(const position& _p)
{
    const auto size = [](const boost::optional<std::string>& _text) { return _text ? _text->size() : 0; };
    return fixed_length_bound + _p.trackable_uid.size() + size(_p.mac_address) + size(_p.area_uid) +
           size(_p.project_uid);
}

// Writes the line of _p at _out, which has room for line_length_bound(_p)
// characters; returns the end of the line.
char* put_line(char* _out, const position& _p, csv_position_writer::second_text_cache& _cache)
{
    _out = put_padded(_out, std::string_view(_p.trackable_uid), uid_width);
    *_out++ = '|';
    _out = put_padded(_out, _p.mac_address, mac_width);
    *_out++ = '|';
    _out = put_time(_out, _p.ts, _cache);
    *_out++ = '|';
    _out = put_padded(_out, _p.x, number_width);
    *_out++ = '|';
    _out = put_padded(_out, _p.y, number_width);
    *_out++ = '|';
    _out = put_padded(_out, _p.z, number_width);
    *_out++ = '|';
    _out = put_padded(_out, _p.area_uid, text_width);
    *_out++ = '|';
    _out = put_padded(_out, _p.project_uid, text_width);
    *_out++ = '|';
    _out = put_padded(_out, _p.inactive, number_width);
    *_out++ = '\n';
    return _out;
}

}  // namespace

std::string_view csv_position_writer::second_text_cache::text(long long _seconds)
{
    if (m_valid && _seconds == m_seconds) return {m_text, m_length};
    long long days = _seconds / 86400;
    long long second_of_day = _seconds % 86400;
    if (second_of_day < 0) {
        second_of_day += 86400;
        --days;
    }
    const civil_date date = civil_from_days(days);

    char* out = m_text;
    if (date.year >= 0 && date.year <= 9999) {
        const auto year = static_cast<unsigned>(date.year);
        out = put_two_digits(out, year / 100);
        out = put_two_digits(out, year % 100);
    } else {
        out = std::to_chars(out, m_text + sizeof m_text, date.year).ptr;
    }
    *out++ = '-';
    out = put_two_digits(out, date.month);
    *out++ = '-';
    out = put_two_digits(out, date.day);
    *out++ = ' ';
    const auto sod = static_cast<unsigned>(second_of_day);
    out = put_two_digits(out, sod / 3600);
    *out++ = ':';
    out = put_two_digits(out, sod / 60 % 60);
    *out++ = ':';
    out = put_two_digits(out, sod % 60);
    m_length = static_cast<std::size_t>(out - m_text);
    m_seconds = _seconds;
    m_valid = true;
    return {m_text, m_length};
}

csv_position_writer::csv_position_writer(output_file& _file)
    : m_file(_file),
      m_buffer(std::make_unique_for_overwrite<char[]>(flush_threshold + 4096)),
      m_capacity(flush_threshold + 4096)
{
}

void csv_position_writer::write(const position& _position)
{
    const std::size_t bound = line_length_bound(_position);
    if (m_capacity - m_used < bound) {
        flush();
        // Only a line with texts of thousands of characters gets here.
        if (m_capacity < bound) {
            m_capacity = bound;
            m_buffer = std::make_unique_for_overwrite<char[]>(m_capacity);
        }
    }
    char* const start = m_buffer.get() + m_used;
    m_used += static_cast<std::size_t>(put_line(start, _position, m_second_text) - start);
    if (m_used >= flush_threshold) flush();
}

void csv_position_writer::flush()
{
    m_file.write(std::string_view(m_buffer.get(), m_used));
    m_used = 0;
}

std::string csv_position_writer::format(const position& _position)
{
    std::string line(line_length_bound(_position), '\0');
    second_text_cache cache;
    line.resize(static_cast<std::size_t>(put_line(line.data(), _position, cache) - line.data()));
    return line;
}

}  // namespace zav
