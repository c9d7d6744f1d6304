#include "csv_position_parser.hpp"

#include <array>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <limits>

namespace zav {

namespace {

constexpr char delimeter = '|';
constexpr std::string_view null = "\\N";

// The white space of isspace() in the C locale, which both strtol and scanf
// skip.
constexpr bool is_c_space(char _c)
{
    return _c == ' ' || (_c >= '\t' && _c <= '\r');
}

// A cursor over the text with the scanf-like steps the time format needs.
class scanner {
public:
    explicit scanner(std::string_view _text) : m_text(_text) {}

    void skip_space()
    {
        while (m_pos < m_text.size() && is_c_space(m_text[m_pos]))
            ++m_pos;
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
            if (value < std::numeric_limits<int>::min())
                return std::nullopt;
            ++m_pos;
        }
        if (m_pos == first_digit)
            return std::nullopt;
        if (!negative) {
            value = -value;
            if (value > std::numeric_limits<int>::max())
                return std::nullopt;
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
        if (m_pos < m_text.size() && (m_text[m_pos] == '+' || m_text[m_pos] == '-'))
            return std::nullopt;
        float value = 0;
        const char* begin = m_text.data() + m_pos;
        const auto [end, error] =
            std::from_chars(begin, m_text.data() + m_text.size(), value, std::chars_format::general);
        if (error != std::errc())
            return std::nullopt;
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

// Days from 1970-01-01 to the first of the given month of the proleptic
// Gregorian calendar; _month in 1..12.
constexpr long long days_from_civil(long long _year, int _month)
{
    _year -= _month <= 2;
    const long long era = (_year >= 0 ? _year : _year - 399) / 400;
    const long long year_of_era = _year - era * 400;
    const long long day_of_year = (153 * (_month + (_month > 2 ? -3 : 9)) + 2) / 5;
    const long long day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    return era * 146097 + day_of_era - 719468;
}

std::optional<timestamp> parse_time_fields(int _year, int _month, int _day, int _hour, int _minute,
                                           float _seconds)
{
    // Non-finite or absurd seconds would make the truncation below undefined;
    // no real time text has them.
    if (!std::isfinite(_seconds) || std::fabs(_seconds) > 1e12f)
        return std::nullopt;
    const long long whole_seconds = static_cast<long long>(_seconds);
    const float fraction = _seconds - static_cast<float>(whole_seconds);
    const long long milliseconds = static_cast<long long>(std::roundf(fraction * 1000.0f));

    // timegm's normalisation: months carry into years, everything below a
    // month is a plain offset from the first of the month.
    const long long month_index = static_cast<long long>(_month) - 1;
    const long long year_carry = month_index >= 0 ? month_index / 12 : -((11 - month_index) / 12);
    const long long year = static_cast<long long>(_year) + year_carry;
    const int month = static_cast<int>(month_index - year_carry * 12) + 1;
    const long long days = days_from_civil(year, month) + _day - 1;
    const long long seconds = days * 86400 + static_cast<long long>(_hour) * 3600 +
                              static_cast<long long>(_minute) * 60 + whole_seconds;
    // About three million years either way: far beyond any real time, and
    // far enough inside 64-bit milliseconds that adding or subtracting spans
    // to such a time cannot overflow.
    constexpr long long limit = 100'000'000'000'000;
    if (seconds > limit || seconds < -limit)
        return std::nullopt;
    return timestamp(std::chrono::milliseconds(seconds * 1000 + milliseconds));
}

// Splits a line at the delimiter the way successive std::getline calls on a
// string stream do: a field may be empty, but an empty field at the very end
// of the line is no field, because getline then extracts nothing.
class field_splitter {
public:
    explicit field_splitter(std::string_view _line) : m_rest(_line) {}

    std::optional<std::string_view> next()
    {
        if (m_exhausted || m_rest.empty())
            return std::nullopt;
        const auto end = m_rest.find(delimeter);
        if (end == std::string_view::npos) {
            m_exhausted = true;
            return m_rest;
        }
        const auto field = m_rest.substr(0, end);
        m_rest.remove_prefix(end + 1);
        return field;
    }

private:
    std::string_view m_rest;
    bool m_exhausted = false;
};

// "\N" is absent; anything else must be a number.
std::optional<boost::optional<int>> parse_optional_number(std::string_view _field)
{
    if (_field == null)
        return boost::optional<int>();
    const auto value = parse_stoi_like(_field);
    if (!value)
        return std::nullopt;
    return boost::optional<int>(*value);
}

}  // namespace

std::optional<int> parse_stoi_like(std::string_view _text)
{
    scanner s(_text);
    return s.read_int();
}

std::optional<timestamp> parse_csv_timestamp(std::string_view _text)
{
    scanner s(_text);
    const auto year = s.read_int();
    if (!year || !s.expect('-'))
        return std::nullopt;
    const auto month = s.read_int();
    if (!month || !s.expect('-'))
        return std::nullopt;
    const auto day = s.read_int();
    if (!day)
        return std::nullopt;
    s.skip_space();
    const auto hour = s.read_int();
    if (!hour || !s.expect(':'))
        return std::nullopt;
    const auto minute = s.read_int();
    if (!minute || !s.expect(':'))
        return std::nullopt;
    const auto seconds = s.read_float();
    if (!seconds)
        return std::nullopt;
    return parse_time_fields(*year, *month, *day, *hour, *minute, *seconds);
}

std::optional<position> parse_csv_position(std::string_view _line)
{
    // Files written on Windows end their lines with CR LF; the CR would glue
    // onto the last field and make every null marker there unreadable.
    if (!_line.empty() && _line.back() == '\r')
        _line.remove_suffix(1);
    field_splitter fields(_line);
    std::array<std::string_view, 15> f;
    for (auto& field : f) {
        const auto next = fields.next();
        if (!next)
            return std::nullopt;
        field = *next;
    }
    if (f[8] != "UWB")
        return std::nullopt;
    const auto ts = parse_csv_timestamp(f[2]);
    const auto x = parse_optional_number(f[9]);
    const auto y = parse_optional_number(f[10]);
    const auto z = parse_optional_number(f[11]);
    const auto inactive = parse_optional_number(f[14]);
    if (!ts || !x || !y || !z || !inactive)
        return std::nullopt;

    position p;
    p.trackable_uid.assign(f[0]);
    p.mac_address.emplace(f[1]);
    p.ts = *ts;
    p.x = *x;
    p.y = *y;
    p.z = *z;
    p.area_uid.emplace(f[12]);
    p.project_uid.emplace(f[13]);
    // Values outside 16 bits are outside the data of this format; they wrap.
    if (*inactive)
        p.inactive = static_cast<short>(**inactive);
    return p;
}

}  // namespace zav
