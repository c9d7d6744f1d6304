#include "mariadb++/binary_row.hpp"

#include "mariadb++/exceptions.hpp"

#include <mysql.h>

#include <algorithm>
#include <limits>
#include <stdexcept>
#include <vector>

namespace mariadb {

namespace {

// The first buffer of a text column: its declared byte length, within these
// bounds. Longer values are rare (a BLOB, a long VARCHAR) and are fetched
// whole on their own, so the bound only trades memory for refetches.
constexpr unsigned long min_text_buffer = 64;
constexpr unsigned long max_text_buffer = 4096;

binary_row::kind kind_of(enum_field_types _type)
{
    switch (_type) {
        case MYSQL_TYPE_TINY:
        case MYSQL_TYPE_SHORT:
        case MYSQL_TYPE_LONG:
        case MYSQL_TYPE_INT24:
        case MYSQL_TYPE_LONGLONG:
        case MYSQL_TYPE_YEAR:
            return binary_row::kind::integer;
        case MYSQL_TYPE_FLOAT:
        case MYSQL_TYPE_DOUBLE:
            return binary_row::kind::floating;
        case MYSQL_TYPE_DATE:
        case MYSQL_TYPE_NEWDATE:
        case MYSQL_TYPE_DATETIME:
        case MYSQL_TYPE_DATETIME2:
        case MYSQL_TYPE_TIMESTAMP:
        case MYSQL_TYPE_TIMESTAMP2:
            return binary_row::kind::date_time;
        default:
            return binary_row::kind::text;
    }
}

}  // namespace

struct binary_row::columns
{
    struct column
    {
        std::string name;
        binary_row::kind kind = binary_row::kind::text;
        bool is_unsigned = false;
        long long integer = 0;
        double floating = 0;
        MYSQL_TIME time{};
        std::vector<char> text;
        unsigned long length = 0;
        my_bool is_null = 0;
        my_bool error = 0;
    };

    std::vector<column> list;
    std::vector<MYSQL_BIND> binds;

    void point_binds()
    {
        binds.assign(list.size(), MYSQL_BIND{});
        for (std::size_t i = 0; i < list.size(); ++i) {
            column& c = list[i];
            MYSQL_BIND& b = binds[i];
            b.is_null = &c.is_null;
            b.error = &c.error;
            b.length = &c.length;
            switch (c.kind) {
                case binary_row::kind::integer:
                    b.buffer_type = MYSQL_TYPE_LONGLONG;
                    b.buffer = &c.integer;
                    b.is_unsigned = c.is_unsigned;
                    break;
                case binary_row::kind::floating:
                    b.buffer_type = MYSQL_TYPE_DOUBLE;
                    b.buffer = &c.floating;
                    break;
                case binary_row::kind::date_time:
                    b.buffer_type = MYSQL_TYPE_DATETIME;
                    b.buffer = &c.time;
                    break;
                case binary_row::kind::text:
                    b.buffer_type = MYSQL_TYPE_STRING;
                    b.buffer = c.text.data();
                    b.buffer_length = c.text.size();
                    break;
            }
        }
    }

    const column& at(u32 _index, binary_row::kind _kind) const
    {
        if (_index >= list.size()) throw std::out_of_range("Column index out of range");
        const column& c = list[_index];
        if (c.kind != _kind) throw exception::connection(12, "type error");
        return c;
    }
};

binary_row::binary_row() : m_columns(std::make_unique<columns>()) {}

binary_row::~binary_row() = default;

bool binary_row::bind(st_mysql_stmt* _statement)
{
    auto& list = m_columns->list;
    list.clear();
    MYSQL_RES* metadata = mysql_stmt_result_metadata(_statement);
    if (metadata == nullptr) return false;
    const unsigned int count = mysql_num_fields(metadata);
    const MYSQL_FIELD* fields = mysql_fetch_fields(metadata);
    list.resize(count);
    for (unsigned int i = 0; i < count; ++i) {
        auto& c = list[i];
        c.name.assign(fields[i].name, fields[i].name_length);
        c.kind = kind_of(fields[i].type);
        c.is_unsigned = (fields[i].flags & UNSIGNED_FLAG) != 0;
        if (c.kind == kind::text)
            c.text.resize(std::clamp<unsigned long>(fields[i].length, min_text_buffer, max_text_buffer));
    }
    mysql_free_result(metadata);
    m_columns->point_binds();
    return mysql_stmt_bind_result(_statement, m_columns->binds.data()) == 0;
}

bool binary_row::complete_truncated(st_mysql_stmt* _statement)
{
    bool grown = false;
    auto& list = m_columns->list;
    for (unsigned int i = 0; i < list.size(); ++i) {
        auto& c = list[i];
        // Only texts can be cut: every other kind is bound to a buffer that
        // holds any value of its column.
        if (!c.error || c.kind != kind::text || c.length <= c.text.size()) continue;
        c.text.resize(c.length);
        MYSQL_BIND whole{};
        whole.buffer_type = MYSQL_TYPE_STRING;
        whole.buffer = c.text.data();
        whole.buffer_length = c.text.size();
        whole.length = &c.length;
        whole.is_null = &c.is_null;
        whole.error = &c.error;
        if (mysql_stmt_fetch_column(_statement, &whole, i, 0) != 0) return false;
        grown = true;
    }
    if (!grown) return true;
    // The larger buffers serve the later rows, so that a table of long
    // values is refetched once per column rather than once per row.
    m_columns->point_binds();
    return mysql_stmt_bind_result(_statement, m_columns->binds.data()) == 0;
}

u32 binary_row::column_count() const { return static_cast<u32>(m_columns->list.size()); }

u32 binary_row::column_index(std::string_view _name) const
{
    const auto& list = m_columns->list;
    for (std::size_t i = list.size(); i-- > 0;)
        if (list[i].name == _name) return static_cast<u32>(i);
    return npos;
}

binary_row::kind binary_row::column_kind(u32 _index) const
{
    if (_index >= m_columns->list.size()) throw std::out_of_range("Column index out of range");
    return m_columns->list[_index].kind;
}

bool binary_row::get_is_null(u32 _index) const
{
    if (_index >= m_columns->list.size()) throw std::out_of_range("Column index out of range");
    return m_columns->list[_index].is_null != 0;
}

long long binary_row::get_integer(u32 _index) const
{
    const auto& c = m_columns->at(_index, kind::integer);
    // An unsigned value above the signed range arrives as a negative one.
    if (c.is_unsigned && c.integer < 0) throw std::out_of_range("Value out of range");
    return c.integer;
}

double binary_row::get_double(u32 _index) const { return m_columns->at(_index, kind::floating).floating; }

date_time_fields binary_row::get_date_time(u32 _index) const
{
    const MYSQL_TIME& t = m_columns->at(_index, kind::date_time).time;
    return {t.year, t.month, t.day, t.hour, t.minute, t.second, t.second_part};
}

std::string_view binary_row::get_text(u32 _index) const
{
    const auto& c = m_columns->at(_index, kind::text);
    return {c.text.data(), std::min<std::size_t>(c.length, c.text.size())};
}

}  // namespace mariadb
