#pragma once

#include "mariadb++/date_time.hpp"
#include "mariadb++/last_error.hpp"
#include "mariadb++/types.hpp"
#include "mariadb++/value.hpp"

#include <map>
#include <memory>
#include <string>
#include <string_view>

struct st_mysql;
struct st_mysql_res;
struct st_mysql_field;

namespace mariadb {

class result_set;
using result_set_ref = std::shared_ptr<result_set>;

// The rows of one text query. No row is current until next() has returned
// true. Getters read the current row's text and convert it on every call.
//
// Getters throw std::out_of_range("No row was fetched") without a current
// row, std::out_of_range("Column index out of range") for an unknown column,
// and exception::connection(12, "type error") when the column's kind does not
// fit the getter.
class result_set : public last_error
{
    struct private_tag
    {
    };

public:
    static constexpr u32 npos = 0xFFFFFFFF;

    // Takes the current result of _mysql: fetched whole when _store_result,
    // else streamed (then the connection may run nothing else until the last
    // row was read). Used by connection::query.
    static result_set_ref create(st_mysql* _mysql, bool _store_result);

    result_set(private_tag, st_mysql* _mysql, bool _store_result);
    result_set(const result_set&) = delete;
    result_set& operator=(const result_set&) = delete;
    virtual ~result_set();

    // True when the statement produced a result (with or without rows).
    bool has_result() const { return m_result_set != nullptr; }
    bool next();
    // Rows of a stored result; 0 without a result.
    u64 row_count() const;
    u32 column_count() const { return m_field_count; }
    // The index of the column named _name (the last one of that name), or
    // npos.
    u32 column_index(const std::string& _name) const;
    value::type column_type(u32 _index) const;

    bool get_is_null(u32 _index) const;
    // SQL NULL reads as an empty string.
    std::string get_string(u32 _index) const;
    // The number when the whole text is one that fits, else 0; text without a
    // leading number (also SQL NULL) throws std::invalid_argument, a number
    // beyond the 32-bit range std::out_of_range.
    s8 get_signed8(u32 _index) const;
    s32 get_signed32(u32 _index) const;
    // SQL NULL throws std::invalid_argument("invalid date format").
    date_time get_date_time(u32 _index) const;

    bool get_is_null(const std::string& _name) const { return get_is_null(column_index(_name)); }
    std::string get_string(const std::string& _name) const { return get_string(column_index(_name)); }
    s8 get_signed8(const std::string& _name) const { return get_signed8(column_index(_name)); }
    s32 get_signed32(const std::string& _name) const { return get_signed32(column_index(_name)); }
    date_time get_date_time(const std::string& _name) const { return get_date_time(column_index(_name)); }

private:
    void check_row_and_index(u32 _index) const;
    void check_type(u32 _index, value::type _requested) const;
    std::string_view text(u32 _index) const;

    st_mysql_res* m_result_set = nullptr;
    st_mysql_field* m_fields = nullptr;
    char** m_row = nullptr;
    std::map<std::string, unsigned> m_indexes;
    unsigned long* m_lengths = nullptr;
    u32 m_field_count = 0;
    bool m_was_fetched = false;
};

}  // namespace mariadb
