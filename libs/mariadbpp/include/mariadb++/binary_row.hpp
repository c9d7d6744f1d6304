#pragma once

#include "mariadb++/types.hpp"

#include <memory>
#include <string>
#include <string_view>

struct st_mysql_stmt;

namespace mariadb {

// The current row of a prepared SELECT, as the binary protocol delivers it:
// every column is fetched into a buffer of its own kind, so numbers and
// times arrive as values and are never rendered as text and parsed back.
// Integer columns (of any width) read as long long, FLOAT and DOUBLE as
// double, DATE, DATETIME and TIMESTAMP as calendar fields; every other
// column reads as text, always whole (a value longer than its buffer is
// fetched again in full).
//
// Getters throw std::out_of_range("Column index out of range") for an
// unknown column and exception::connection(12, "type error") when the
// column's kind does not fit the getter. A NULL reads as 0, an empty text
// or zero fields; get_is_null tells it apart.
class binary_row
{
public:
    static constexpr u32 npos = 0xFFFFFFFF;
    enum class kind { integer, floating, date_time, text };

    binary_row();
    binary_row(const binary_row&) = delete;
    binary_row& operator=(const binary_row&) = delete;
    ~binary_row();

    u32 column_count() const;
    // The index of the column named _name (the last one of that name), or
    // npos.
    u32 column_index(std::string_view _name) const;
    kind column_kind(u32 _index) const;

    bool get_is_null(u32 _index) const;
    // An unsigned BIGINT beyond the range of long long throws
    // std::out_of_range.
    long long get_integer(u32 _index) const;
    double get_double(u32 _index) const;
    date_time_fields get_date_time(u32 _index) const;
    // Valid until the next row is fetched.
    std::string_view get_text(u32 _index) const;

private:
    friend class connection;
    struct columns;

    // Binds buffers for the result columns of _statement, which has been
    // executed; false when the client library refuses them.
    bool bind(st_mysql_stmt* _statement);
    // After a fetch that reported truncation: fetches every cut text whole
    // and binds the larger buffers for the next rows. False when the client
    // library refuses.
    bool complete_truncated(st_mysql_stmt* _statement);

    std::unique_ptr<columns> m_columns;
};

}  // namespace mariadb
