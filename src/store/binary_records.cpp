#include "store/binary_records.hpp"

#include <array>
#include <bit>
#include <cstring>
#include <stdexcept>

namespace zav::binary_records {

namespace {

// Strings longer than this are no uid, MAC or area of any table; a length
// above it means a corrupt file, which must not make the reader allocate
// gigabytes.
constexpr std::uint32_t max_string_length = 1 << 20;

template <typename T>
void append_le(std::string& _out, T _value)
{
    std::array<char, sizeof(T)> bytes;
    auto v = static_cast<std::make_unsigned_t<T>>(_value);
    for (auto& b : bytes) {
        b = static_cast<char>(v & 0xFF);
        v = static_cast<std::make_unsigned_t<T>>(v >> 8);
    }
    _out.append(bytes.data(), bytes.size());
}

template <typename T>
T read_le(std::istream& _is)
{
    std::array<unsigned char, sizeof(T)> bytes;
    if (!_is.read(reinterpret_cast<char*>(bytes.data()), bytes.size()))
        throw std::runtime_error("state file ends early");
    std::make_unsigned_t<T> v = 0;
    for (std::size_t i = bytes.size(); i-- > 0;)
        v = static_cast<std::make_unsigned_t<T>>((v << 8) | bytes[i]);
    return static_cast<T>(v);
}

std::string read_string(std::istream& _is)
{
    const auto length = read_le<std::uint32_t>(_is);
    if (length > max_string_length) throw std::runtime_error("state file holds an impossible string length");
    std::string value(length, '\0');
    if (!_is.read(value.data(), length)) throw std::runtime_error("state file ends early");
    return value;
}

bool read_flag(std::istream& _is)
{
    const auto flag = read_le<std::uint8_t>(_is);
    if (flag > 1) throw std::runtime_error("state file holds an invalid presence flag");
    return flag == 1;
}

// Writes the fields of one position through a cursor into room made for
// the whole record at once: appending each field to the buffer cost a size
// check and a copy call per field, more than the encoding itself.
class record_cursor
{
public:
    explicit record_cursor(char* _at) : m_at(_at) {}

    template <typename T>
    void number(T _value)
    {
        auto v = static_cast<std::make_unsigned_t<T>>(_value);
        if constexpr (std::endian::native == std::endian::little) {
            std::memcpy(m_at, &v, sizeof v);
            m_at += sizeof v;
        } else {
            for (std::size_t i = 0; i < sizeof v; ++i) {
                *m_at++ = static_cast<char>(v & 0xFF);
                v = static_cast<std::make_unsigned_t<T>>(v >> 8);
            }
        }
    }
    void text(const std::string& _value)
    {
        number(static_cast<std::uint32_t>(_value.size()));
        std::memcpy(m_at, _value.data(), _value.size());
        m_at += _value.size();
    }
    void optional_text(const boost::optional<std::string>& _value)
    {
        number<std::uint8_t>(_value ? 1 : 0);
        if (_value) text(*_value);
    }
    template <typename T, typename Stored>
    void optional_number(const boost::optional<Stored>& _value)
    {
        number<std::uint8_t>(_value ? 1 : 0);
        if (_value) number(static_cast<T>(*_value));
    }
    char* at() const { return m_at; }

private:
    char* m_at;
};

std::size_t text_size(const std::string& _value) { return 4 + _value.size(); }
std::size_t text_size(const boost::optional<std::string>& _value) { return _value ? 4 + _value->size() : 0; }

void append_position(std::string& _out, const position& _p)
{
    // The id and the time, seven presence flags, three coordinates and
    // inactive; texts come with their lengths.
    constexpr std::size_t fixed = 8 + 8 + 7 + 3 * 4 + 2;
    const std::size_t start = _out.size();
    _out.resize(start + fixed + text_size(_p.trackable_uid) + text_size(_p.mac_address) +
                text_size(_p.area_uid) + text_size(_p.project_uid));
    record_cursor out(_out.data() + start);
    out.number<std::int64_t>(_p.trackable_id);
    out.text(_p.trackable_uid);
    out.optional_text(_p.mac_address);
    out.number<std::int64_t>(_p.ts.get_time_since_epoch().count());
    for (const auto* coordinate : {&_p.x, &_p.y, &_p.z}) out.optional_number<std::int32_t>(*coordinate);
    out.optional_text(_p.area_uid);
    out.optional_text(_p.project_uid);
    out.optional_number<std::int16_t>(_p.inactive);
    // Absent optionals take one byte instead of their value's width.
    _out.resize(static_cast<std::size_t>(out.at() - _out.data()));
}

boost::optional<std::string> read_optional_string(std::istream& _is)
{
    if (!read_flag(_is)) return boost::none;
    return read_string(_is);
}

position read_position(std::istream& _is)
{
    position p;
    p.trackable_id = read_le<std::int64_t>(_is);
    p.trackable_uid = read_string(_is);
    p.mac_address = read_optional_string(_is);
    p.ts = timestamp(std::chrono::milliseconds(read_le<std::int64_t>(_is)));
    for (auto* coordinate : {&p.x, &p.y, &p.z})
        if (read_flag(_is)) *coordinate = read_le<std::int32_t>(_is);
    p.area_uid = read_optional_string(_is);
    p.project_uid = read_optional_string(_is);
    if (read_flag(_is)) p.inactive = read_le<std::int16_t>(_is);
    return p;
}

}  // namespace

void append_header(std::string& _out, const char (&_magic)[5], std::uint32_t _version)
{
    _out.append(_magic, 4);
    append_le(_out, _version);
}

std::uint32_t read_u32(std::istream& _is) { return read_le<std::uint32_t>(_is); }
std::int64_t read_i64(std::istream& _is) { return read_le<std::int64_t>(_is); }

void append_u32(std::string& _out, std::uint32_t _value) { append_le(_out, _value); }
void append_i64(std::string& _out, std::int64_t _value) { append_le(_out, _value); }

void append_positions(std::string& _out, const positions_vector& _positions)
{
    append_le<std::uint64_t>(_out, _positions.size());
    for (const auto& p : _positions) append_position(_out, p);
}

positions_vector read_positions(std::istream& _is)
{
    const auto count = read_le<std::uint64_t>(_is);
    positions_vector positions;
    // The count is not trusted for the reservation: a corrupt one would
    // allocate before the read fails.
    positions.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(count, 1 << 16)));
    for (std::uint64_t i = 0; i < count; ++i) positions.push_back(read_position(_is));
    return positions;
}

void expect_end(std::istream& _is)
{
    if (_is.peek() != std::char_traits<char>::eof())
        throw std::runtime_error("state file has trailing bytes");
}

}  // namespace zav::binary_records
