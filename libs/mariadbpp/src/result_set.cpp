#include "mariadb++/result_set.hpp"

#include "mariadb++/exceptions.hpp"

#include <mysql.h>

#include <charconv>
#include <cstdio>
#include <stdexcept>

namespace mariadb {

namespace {

value::type kind_of(const MYSQL_FIELD& _field)
{
    bool is_unsigned = (_field.flags & UNSIGNED_FLAG) != 0;
    switch (_field.type) {
        case MYSQL_TYPE_DECIMAL:
        case MYSQL_TYPE_NEWDECIMAL:
            return value::decimal;
        case MYSQL_TYPE_TINY:
            return is_unsigned ? value::unsigned8 : value::signed8;
        case MYSQL_TYPE_SHORT:
        case MYSQL_TYPE_YEAR:
            return is_unsigned ? value::unsigned16 : value::signed16;
        case MYSQL_TYPE_LONG:
        case MYSQL_TYPE_INT24:
            return is_unsigned ? value::unsigned32 : value::signed32;
        case MYSQL_TYPE_LONGLONG:
            return is_unsigned ? value::unsigned64 : value::signed64;
        case MYSQL_TYPE_FLOAT:
            return value::float32;
        case MYSQL_TYPE_DOUBLE:
            return value::double64;
        case MYSQL_TYPE_NULL:
            return value::null;
        case MYSQL_TYPE_TIMESTAMP:
        case MYSQL_TYPE_DATETIME:
            return value::date_time;
        case MYSQL_TYPE_DATE:
        case MYSQL_TYPE_NEWDATE:
            return value::date;
        case MYSQL_TYPE_TIME:
            return value::time;
        case MYSQL_TYPE_BIT:
            return value::boolean;
        case MYSQL_TYPE_ENUM:
            return value::enumeration;
        case MYSQL_TYPE_TINY_BLOB:
        case MYSQL_TYPE_MEDIUM_BLOB:
        case MYSQL_TYPE_LONG_BLOB:
        case MYSQL_TYPE_BLOB:
            return value::blob;
        default:
            return value::string;
    }
}

bool accepts(value::type _requested, value::type _actual)
{
    switch (_requested) {
        case value::string:
            return _actual == value::string || _actual == value::null || _actual == value::blob ||
                   _actual == value::data;
        case value::signed8:
            return _actual == value::unsigned8 || _actual == value::signed8;
        case value::signed32:
            return _actual == value::unsigned32 || _actual == value::signed32;
        default:
            return _actual == _requested;
    }
}

// The number when the whole text is one, else 0; the exceptions of std::stoi
// for text without a leading number or beyond the range of int.
int to_int(std::string_view _text)
{
    int number = 0;
    auto [end, error] = std::from_chars(_text.data(), _text.data() + _text.size(), number);
    if (error == std::errc() && end == _text.data() + _text.size()) return number;
    std::size_t consumed = 0;
    std::string text(_text);
    number = std::stoi(text, &consumed, 10);
    return consumed == text.size() ? number : 0;
}

}  // namespace

result_set_ref result_set::create(st_mysql* _mysql, bool _store_result)
{
    return std::make_shared<result_set>(private_tag{}, _mysql, _store_result);
}

result_set::result_set(private_tag, st_mysql* _mysql, bool _store_result)
    : m_result_set(_store_result ? mysql_store_result(_mysql) : mysql_use_result(_mysql))
{
    if (m_result_set == nullptr) return;
    m_field_count = mysql_num_fields(m_result_set);
    m_fields = mysql_fetch_fields(m_result_set);
    for (u32 i = 0; i < m_field_count; ++i) m_indexes[m_fields[i].name] = i;
}

result_set::~result_set()
{
    if (m_result_set != nullptr) mysql_free_result(m_result_set);
}

bool result_set::next()
{
    if (m_result_set == nullptr) return false;
    m_row = mysql_fetch_row(m_result_set);
    m_lengths = m_row != nullptr ? mysql_fetch_lengths(m_result_set) : nullptr;
    m_was_fetched = m_row != nullptr;
    return m_was_fetched;
}

u64 result_set::row_count() const { return m_result_set != nullptr ? mysql_num_rows(m_result_set) : 0; }

u32 result_set::column_index(const std::string& _name) const
{
    auto it = m_indexes.find(_name);
    return it != m_indexes.end() ? it->second : npos;
}

value::type result_set::column_type(u32 _index) const
{
    if (_index >= m_field_count) throw std::out_of_range("Column index out of range");
    return kind_of(m_fields[_index]);
}

void result_set::check_row_and_index(u32 _index) const
{
    if (!m_was_fetched) throw std::out_of_range("No row was fetched");
    if (_index >= m_field_count) throw std::out_of_range("Column index out of range");
}

void result_set::check_type(u32 _index, value::type _requested) const
{
    check_row_and_index(_index);
    value::type actual = kind_of(m_fields[_index]);
    if (!accepts(_requested, actual)) {
        std::printf("requested type %d does not match actual type %d", static_cast<int>(_requested),
                    static_cast<int>(actual));
        std::fflush(stdout);
        throw exception::connection(12, "type error");
    }
}

std::string_view result_set::text(u32 _index) const
{
    const char* bytes = m_row[_index];
    return bytes != nullptr ? std::string_view(bytes, m_lengths[_index]) : std::string_view();
}

bool result_set::get_is_null(u32 _index) const
{
    check_row_and_index(_index);
    return m_row[_index] == nullptr;
}

std::string result_set::get_string(u32 _index) const
{
    check_type(_index, value::string);
    return std::string(text(_index));
}

s8 result_set::get_signed8(u32 _index) const
{
    check_type(_index, value::signed8);
    int number = to_int(text(_index));
    return number >= -128 && number <= 127 ? static_cast<s8>(number) : 0;
}

s32 result_set::get_signed32(u32 _index) const
{
    check_type(_index, value::signed32);
    return to_int(text(_index));
}

date_time result_set::get_date_time(u32 _index) const
{
    check_type(_index, value::date_time);
    date_time result;
    result.set_text(text(_index));
    return result;
}

}  // namespace mariadb
