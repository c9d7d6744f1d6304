#include "batch/csv_position_writer.hpp"

#include "core/civil_time.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

namespace zav {

// The fields of a line, from a position or from a record with its texts:
// one renderer serves both.
struct csv_line_fields
{
    const std::string* uid;
    const std::string* mac_address;
    std::int64_t ts;
    const int* x;
    const int* y;
    const int* z;
    const std::string* area_uid;
    const std::string* project_uid;
    const short* inactive;
};

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

// "00" to "99", one after another.
constexpr std::array<char, 200> digit_pairs = [] {
    std::array<char, 200> pairs{};
    for (int i = 0; i < 100; ++i) {
        pairs[2 * i] = static_cast<char>('0' + i / 10);
        pairs[2 * i + 1] = static_cast<char>('0' + i % 10);
    }
    return pairs;
}();

// Writing goes through a raw cursor into room reserved for the whole line:
// no capacity test per character.
char* put(char* _out, std::string_view _text)
{
    // Short texts (uids, MAC addresses, areas, numbers) are copied inline;
    // a call of memcpy per field would cost more than the copy. From 16 to
    // 32 characters, two overlapping copies of 16 cover the text.
    const std::size_t n = _text.size();
    if (n >= 16 && n <= 32) {
        std::memcpy(_out, _text.data(), 16);
        std::memcpy(_out + n - 16, _text.data() + n - 16, 16);
        return _out + n;
    }
    // Below that, two overlapping copies of 8 or of 4.
    if (n >= 8 && n < 16) {
        std::memcpy(_out, _text.data(), 8);
        std::memcpy(_out + n - 8, _text.data() + n - 8, 8);
        return _out + n;
    }
    if (n >= 4 && n < 8) {
        std::memcpy(_out, _text.data(), 4);
        std::memcpy(_out + n - 4, _text.data() + n - 4, 4);
        return _out + n;
    }
    if (n < 4) {
        for (std::size_t i = 0; i < n; ++i) _out[i] = _text[i];
        return _out + n;
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

char* put_padded(char* _out, const std::string* _text, std::size_t _width)
{
    return put_padded(_out, _text ? std::string_view(*_text) : null, _width);
}

template <typename Integer>
char* put_padded(char* _out, const Integer* _value, std::size_t _width)
{
    if (_value == nullptr) return put_padded(_out, null, _width);
    // The numbers of real positions fit the column: their digits are put
    // from the column's end backwards over blanks, with no copy.
    const long long value = *_value;
    if (_width == number_width && value > -1000000 && value < 10000000) {
        std::memcpy(_out, blanks, 8);
        char* digit = _out + number_width;
        auto rest = static_cast<unsigned>(value < 0 ? -value : value);
        // Two digits per division.
        for (; rest >= 100; rest /= 100) {
            digit -= 2;
            std::memcpy(digit, digit_pairs.data() + 2 * (rest % 100), 2);
        }
        if (rest >= 10) {
            digit -= 2;
            std::memcpy(digit, digit_pairs.data() + 2 * rest, 2);
        } else {
            *--digit = static_cast<char>('0' + rest);
        }
        if (value < 0) *--digit = '-';
        return _out + number_width;
    }
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, *_value);
    return put_padded(_out, std::string_view(digits, static_cast<std::size_t>(result.ptr - digits)), _width);
}

template <typename Value>
const Value* pointer(const boost::optional<Value>& _value)
{
    return _value ? &*_value : nullptr;
}

csv_line_fields fields_of(const position& _p)
{
    return {&_p.trackable_uid,    pointer(_p.mac_address), _p.ts.get_time_since_epoch().count(),
            pointer(_p.x),        pointer(_p.y),           pointer(_p.z),
            pointer(_p.area_uid), pointer(_p.project_uid), pointer(_p.inactive)};
}

csv_line_fields fields_of(const position_record& _r, const record_strings& _strings)
{
    const auto text = [&](std::uint32_t _n) {
        return _n == position_record::absent ? nullptr : &_strings.text(_n);
    };
    const auto has = [&](std::uint8_t _flag) { return (_r.present & _flag) != 0; };
    return {&_strings.text(_r.uid),
            text(_r.mac_address),
            _r.ts,
            has(position_record::has_x) ? &_r.x : nullptr,
            has(position_record::has_y) ? &_r.y : nullptr,
            has(position_record::has_z) ? &_r.z : nullptr,
            text(_r.area_uid),
            text(_r.project_uid),
            has(position_record::has_inactive) ? &_r.inactive : nullptr};
}

// Seconds and milliseconds of a count, by floor division so that instants
// before 1970 stay consistent; no real input has them.
struct split_time
{
    long long seconds;
    unsigned milliseconds;
};

split_time split(std::int64_t _count)
{
    long long seconds = _count / 1000;
    long long milliseconds = _count % 1000;
    if (milliseconds < 0) {
        milliseconds += 1000;
        --seconds;
    }
    return {seconds, static_cast<unsigned>(milliseconds)};
}

// "YYYY-MM-DD hh:mm:ss.mmm000": the timestamp's own text form with three
// zeros for the microseconds.
char* put_time(char* _out, std::int64_t _ts, csv_position_writer::second_text_cache& _cache)
{
    const split_time t = split(_ts);
    _out = put(_out, _cache.text(t.seconds));
    *_out++ = '.';
    _out = libs::core::put_digits(_out, t.milliseconds, 3);
    return put(_out, "000");
}

std::size_t line_length_bound(const csv_line_fields& _f)
{
    const auto size = [](const std::string* _text) { return _text ? _text->size() : 0; };
    return fixed_length_bound + _f.uid->size() + size(_f.mac_address) + size(_f.area_uid) +
           size(_f.project_uid);
}

// Writes the line of _f at _out, which has room for line_length_bound(_f)
// characters; returns the end of the line.
char* put_line(char* _out, const csv_line_fields& _f, csv_position_writer::second_text_cache& _cache)
{
    _out = put_padded(_out, std::string_view(*_f.uid), uid_width);
    *_out++ = '|';
    _out = put_padded(_out, _f.mac_address, mac_width);
    *_out++ = '|';
    _out = put_time(_out, _f.ts, _cache);
    *_out++ = '|';
    _out = put_padded(_out, _f.x, number_width);
    *_out++ = '|';
    _out = put_padded(_out, _f.y, number_width);
    *_out++ = '|';
    _out = put_padded(_out, _f.z, number_width);
    *_out++ = '|';
    _out = put_padded(_out, _f.area_uid, text_width);
    *_out++ = '|';
    _out = put_padded(_out, _f.project_uid, text_width);
    *_out++ = '|';
    _out = put_padded(_out, _f.inactive, number_width);
    *_out++ = '\n';
    return _out;
}

}  // namespace

std::string_view csv_position_writer::second_text_cache::text(long long _seconds)
{
    if (m_valid && _seconds == m_seconds) return {m_text, m_length};
    m_length = static_cast<std::size_t>(libs::core::put_date_time(m_text, _seconds) - m_text);
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

void csv_position_writer::write(const position& _position) { write(fields_of(_position)); }

void csv_position_writer::write(const position_record& _record, const record_strings& _strings)
{
    write(fields_of(_record, _strings));
}

void csv_position_writer::write(const csv_line_fields& _fields)
{
    const std::size_t bound = line_length_bound(_fields);
    if (m_capacity - m_used < bound) {
        flush();
        // Only a line with texts of thousands of characters gets here.
        if (m_capacity < bound) {
            m_capacity = bound;
            m_buffer = std::make_unique_for_overwrite<char[]>(m_capacity);
        }
    }
    char* const start = m_buffer.get() + m_used;
    m_used += static_cast<std::size_t>(put_line(start, _fields, m_second_text) - start);
    if (m_used >= flush_threshold) flush();
}

void csv_position_writer::flush()
{
    m_file.write(std::string_view(m_buffer.get(), m_used));
    m_used = 0;
}

std::string csv_position_writer::format(const position& _position)
{
    const csv_line_fields fields = fields_of(_position);
    std::string line(line_length_bound(fields), '\0');
    second_text_cache cache;
    line.resize(static_cast<std::size_t>(put_line(line.data(), fields, cache) - line.data()));
    return line;
}

}  // namespace zav
