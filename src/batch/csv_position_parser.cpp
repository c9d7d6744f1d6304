#include "batch/csv_position_parser.hpp"

#include "core/civil_time.hpp"

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace zav {

namespace {

constexpr char delimeter = '|';
constexpr std::string_view null = "\\N";

// The white space of isspace() in the C locale, which both strtol and scanf
// skip.
constexpr bool is_c_space(char _c) { return _c == ' ' || (_c >= '\t' && _c <= '\r'); }

// A cursor over the text with the scanf-like steps the time format needs.
class scanner
{
public:
    explicit scanner(std::string_view _text) : m_text(_text) {}

    void skip_space()
    {
        while (m_pos < m_text.size() && is_c_space(m_text[m_pos])) ++m_pos;
    }

    // "%d": white space, optional sign, at least one digit. Values that do not
    // fit an int fail.
    std::optional<int> read_int()
    {
        skip_space();
        bool negative = false;
        if (m_pos < m_text.size() && (m_text[m_pos] == '+' || m_text[m_pos] == '-'))
            negative = m_text[m_pos++] == '-';
        const std::size_t first_digit = m_pos;
        // Accumulated as a negative number so that INT_MIN is reachable.
        long long value = 0;
        while (m_pos < m_text.size() && m_text[m_pos] >= '0' && m_text[m_pos] <= '9') {
            value = value * 10 - (m_text[m_pos] - '0');
            if (value < std::numeric_limits<int>::min()) return std::nullopt;
            ++m_pos;
        }
        if (m_pos == first_digit) return std::nullopt;
        if (!negative) {
            value = -value;
            if (value > std::numeric_limits<int>::max()) return std::nullopt;
        }
        return static_cast<int>(value);
    }

    // "%f" into a float: white space, optional sign, a decimal floating
    // number (correctly rounded to single precision, as strtof does).
    std::optional<float> read_float()
    {
        skip_space();
        bool negative = false;
        if (m_pos < m_text.size() && (m_text[m_pos] == '+' || m_text[m_pos] == '-'))
            negative = m_text[m_pos++] == '-';
        if (m_pos < m_text.size() && (m_text[m_pos] == '+' || m_text[m_pos] == '-')) return std::nullopt;
        float value = 0;
        const char* begin = m_text.data() + m_pos;
        const auto [end, error] =
            std::from_chars(begin, m_text.data() + m_text.size(), value, std::chars_format::general);
        if (error != std::errc()) return std::nullopt;
        m_pos += static_cast<std::size_t>(end - begin);
        return negative ? -value : value;
    }

    bool expect(char _c)
    {
        if (m_pos < m_text.size() && m_text[m_pos] == _c) {
            ++m_pos;
            return true;
        }
        return false;
    }

private:
    std::string_view m_text;
    std::size_t m_pos = 0;
};

// The instant of the given fields read as UTC, normalised as timegm does.
std::optional<timestamp> instant_of(int _year, int _month, int _day, int _hour, int _minute,
                                    long long _whole_seconds, long long _milliseconds)
{
    const long long seconds =
        libs::core::seconds_from_civil(_year, _month, _day, _hour, _minute, _whole_seconds);
    // About three million years either way: far beyond any real time, and
    // far enough inside 64-bit milliseconds that adding or subtracting spans
    // to such a time cannot overflow.
    constexpr long long limit = 100'000'000'000'000;
    if (seconds > limit || seconds < -limit) return std::nullopt;
    return timestamp(std::chrono::milliseconds(seconds * 1000 + _milliseconds));
}

std::optional<timestamp> parse_time_fields(int _year, int _month, int _day, int _hour, int _minute,
                                           float _seconds)
{
    // Non-finite or absurd seconds would make the truncation below undefined;
    // no real time text has them.
    if (!std::isfinite(_seconds) || std::fabs(_seconds) > 1e12f) return std::nullopt;
    const long long whole_seconds = static_cast<long long>(_seconds);
    const float fraction = _seconds - static_cast<float>(whole_seconds);
    const long long milliseconds = static_cast<long long>(std::roundf(fraction * 1000.0f));
    return instant_of(_year, _month, _day, _hour, _minute, whole_seconds, milliseconds);
}

bool is_digit(char _c) { return _c >= '0' && _c <= '9'; }

int two_digits(const char* _text) { return (_text[0] - '0') * 10 + (_text[1] - '0'); }

// The form every producer writes, "YYYY-MM-DD hh:mm:ss.fff" with or without
// a "Z", read from fixed places. The general reader gives the same instant:
// ss.fff as a float lies within 2^-17 of its value and at least 0.001 from
// the next whole second, so the truncation gives ss and the rounded
// milliseconds are exactly fff.
std::optional<timestamp> parse_canonical_time(std::string_view _text)
{
    constexpr std::size_t length = 23;
    if (_text.size() != length && !(_text.size() == length + 1 && _text.back() == 'Z')) return std::nullopt;
    const char* t = _text.data();
    const auto digits = [t](std::initializer_list<int> _places) {
        for (const int place : _places)
            if (!is_digit(t[place])) return false;
        return true;
    };
    if (t[4] != '-' || t[7] != '-' || t[10] != ' ' || t[13] != ':' || t[16] != ':' || t[19] != '.' ||
        !digits({0, 1, 2, 3, 5, 6, 8, 9, 11, 12, 14, 15, 17, 18, 20, 21, 22}))
        return std::nullopt;
    // Consecutive lines nearly always share their date; its day count is
    // kept (the month and day are normalised as timegm does).
    thread_local char last_date[10] = {};
    thread_local long long last_days = 0;
    long long days;
    if (std::memcmp(t, last_date, sizeof last_date) == 0) {
        days = last_days;
    } else {
        days = libs::core::days_from_civil(two_digits(t) * 100 + two_digits(t + 2), two_digits(t + 5),
                                           two_digits(t + 8));
        std::memcpy(last_date, t, sizeof last_date);
        last_days = days;
    }
    const long long seconds =
        days * 86400 + two_digits(t + 11) * 3600 + two_digits(t + 14) * 60 + two_digits(t + 17);
    return timestamp(std::chrono::milliseconds(seconds * 1000 + (t[20] - '0') * 100 + two_digits(t + 21)));
}

constexpr std::size_t field_count = 15;

// The fields of a line as offsets; left uninitialised until split, since a
// default-constructed array of views would be zeroed on every line.
struct line_fields
{
    std::string_view line;
    std::uint32_t begin[field_count];
    std::uint32_t end[field_count];

    std::string_view operator[](std::size_t _i) const
    {
        return std::string_view(line.data() + begin[_i], end[_i] - begin[_i]);
    }
};

// Splits a line into its first fifteen fields the way successive std::getline
// calls on a string stream do: a field may be empty, but an empty field at
// the very end of the line is no field, because getline then extracts
// nothing. The fifteenth field ends at the next delimiter or the line end.
// Returns the number of fields found, at most fifteen.
std::size_t split_fields(std::string_view _line, line_fields& _fields)
{
    const char* const begin = _line.data();
    const std::size_t size = _line.size();
    std::size_t start = 0;
    std::size_t found = 0;
    // Each delimiter ends one field; the positions of the delimiters come
    // sixteen bytes at a time where the machine compares that many at once.
    const auto end_field = [&](std::size_t _stop) {
        _fields.begin[found] = static_cast<std::uint32_t>(start);
        _fields.end[found++] = static_cast<std::uint32_t>(_stop);
        start = _stop + 1;
    };
    std::size_t i = 0;
#if defined(__SSE2__)
    const __m128i delimiters = _mm_set1_epi8(delimeter);
    for (; i + 16 <= size && found < field_count; i += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(begin + i));
        auto mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, delimiters)));
        for (; mask != 0 && found < field_count; mask &= mask - 1)
            end_field(i + static_cast<std::size_t>(__builtin_ctz(mask)));
    }
#endif
    for (; i < size && found < field_count; ++i)
        if (begin[i] == delimeter) end_field(i);
    // The last field runs to the line end; it exists when it is not empty.
    if (found < field_count && start < size) {
        _fields.begin[found] = static_cast<std::uint32_t>(start);
        _fields.end[found++] = static_cast<std::uint32_t>(size);
    }
    return found;
}

// The usual numbers, an optional minus and up to nine digits followed by
// nothing or by anything that is not a digit, need no overflow test; all
// other texts go through the general reader.
std::optional<int> parse_number(std::string_view _text)
{
    std::size_t i = !_text.empty() && _text[0] == '-' ? 1 : 0;
    const std::size_t first_digit = i;
    int value = 0;
    while (i < _text.size() && i - first_digit < 9 && is_digit(_text[i]))
        value = value * 10 + (_text[i++] - '0');
    const std::size_t digits = i - first_digit;
    if (digits == 0 || (digits == 9 && i < _text.size() && is_digit(_text[i]))) return parse_stoi_like(_text);
    return first_digit == 1 ? -value : value;
}

// "\N" is absent; anything else must be a number.
std::optional<boost::optional<int>> parse_optional_number(std::string_view _field)
{
    if (_field.size() == 2 && _field[0] == null[0] && _field[1] == null[1]) return boost::optional<int>();
    const auto value = parse_number(_field);
    if (!value) return std::nullopt;
    return boost::optional<int>(*value);
}

}  // namespace

std::optional<int> parse_stoi_like(std::string_view _text)
{
    scanner s(_text);
    return s.read_int();
}

namespace {

std::optional<timestamp> parse_time_text(std::string_view _text)
{
    if (const auto canonical = parse_canonical_time(_text)) return canonical;
    scanner s(_text);
    const auto year = s.read_int();
    if (!year || !s.expect('-')) return std::nullopt;
    const auto month = s.read_int();
    if (!month || !s.expect('-')) return std::nullopt;
    const auto day = s.read_int();
    if (!day) return std::nullopt;
    s.skip_space();
    const auto hour = s.read_int();
    if (!hour || !s.expect(':')) return std::nullopt;
    const auto minute = s.read_int();
    if (!minute || !s.expect(':')) return std::nullopt;
    const auto seconds = s.read_float();
    if (!seconds) return std::nullopt;
    return parse_time_fields(*year, *month, *day, *hour, *minute, *seconds);
}

// From 1970-01-01 00:00:00.000 up to 9999-12-31 23:59:59.999: the daemon skips
// raw rows before 1970 (the zero date 0000-00-00 among them) as invalid, and
// later years would need a fifth digit in the output.
constexpr std::int64_t first_valid_time = 0;
constexpr std::int64_t end_of_valid_times = 253402300800000;

}  // namespace

std::optional<timestamp> parse_csv_timestamp(std::string_view _text)
{
    const auto ts = parse_time_text(_text);
    if (!ts) return std::nullopt;
    const std::int64_t count = ts->get_time_since_epoch().count();
    if (count < first_valid_time || count >= end_of_valid_times) return std::nullopt;
    return ts;
}

namespace {

// What a line that is not skipped holds: its texts as views into the line,
// its numbers parsed.
struct parsed_line
{
    std::string_view uid;
    std::string_view mac_address;
    std::string_view area_uid;
    std::string_view project_uid;
    timestamp ts;
    boost::optional<int> x;
    boost::optional<int> y;
    boost::optional<int> z;
    boost::optional<int> inactive;
};

constexpr std::size_t kind_field = 8;

csv_line parse_line(std::string_view _line, parsed_line& _out)
{
    // Files written on Windows end their lines with CR LF; the CR would glue
    // onto the last field and make every null marker there unreadable.
    if (!_line.empty() && _line.back() == '\r') _line.remove_suffix(1);
    // Offsets are 32 bits; the line reader never hands out longer lines.
    if (_line.size() > std::numeric_limits<std::uint32_t>::max()) return csv_line::malformed;
    line_fields f;
    f.line = _line;
    const std::size_t fields = split_fields(_line, f);
    // A line of another kind (a heartbeat) is that whatever its other fields.
    if (fields > kind_field && f[kind_field] != "UWB") return csv_line::other_kind;
    if (fields < field_count) return csv_line::malformed;
    const auto ts = parse_csv_timestamp(f[2]);
    const auto x = parse_optional_number(f[9]);
    const auto y = parse_optional_number(f[10]);
    const auto z = parse_optional_number(f[11]);
    const auto inactive = parse_optional_number(f[14]);
    if (!ts || !x || !y || !z || !inactive) return csv_line::malformed;
    _out.uid = f[0];
    _out.mac_address = f[1];
    _out.area_uid = f[12];
    _out.project_uid = f[13];
    _out.ts = *ts;
    _out.x = *x;
    _out.y = *y;
    _out.z = *z;
    _out.inactive = *inactive;
    return csv_line::position;
}

}  // namespace

bool append_csv_position(std::string_view _line, positions_vector& _positions)
{
    parsed_line l;
    if (parse_line(_line, l) != csv_line::position) return false;
    // Built where it stays: a position moved into place costs a copy of
    // each of its strings.
    position& p = _positions.emplace_back();
    p.trackable_uid.assign(l.uid);
    p.mac_address.emplace(l.mac_address);
    p.ts = l.ts;
    p.x = l.x;
    p.y = l.y;
    p.z = l.z;
    p.area_uid.emplace(l.area_uid);
    p.project_uid.emplace(l.project_uid);
    // Values outside 16 bits are outside the data of this format; they wrap.
    if (l.inactive) p.inactive = static_cast<short>(*l.inactive);
    return true;
}

csv_line append_csv_record(std::string_view _line, record_strings& _strings,
                           std::vector<position_record>& _records)
{
    parsed_line l;
    if (const csv_line kind = parse_line(_line, l); kind != csv_line::position) return kind;
    position_record& r = _records.emplace_back();
    r.ts = l.ts.get_time_since_epoch().count();
    _strings.number_texts(r, l.uid, &l.mac_address, &l.area_uid, &l.project_uid);
    const auto take = [&r](const boost::optional<int>& _value, auto& _field, std::uint8_t _flag) {
        if (!_value) return;
        _field = static_cast<std::remove_reference_t<decltype(_field)>>(*_value);
        r.present |= _flag;
    };
    take(l.x, r.x, position_record::has_x);
    take(l.y, r.y, position_record::has_y);
    take(l.z, r.z, position_record::has_z);
    // Values outside 16 bits wrap, as they do for a position.
    take(l.inactive, r.inactive, position_record::has_inactive);
    return csv_line::position;
}

std::optional<position> parse_csv_position(std::string_view _line)
{
    positions_vector one;
    if (!append_csv_position(_line, one)) return std::nullopt;
    return std::move(one.front());
}

}  // namespace zav
