#pragma once

#include "mariadb++/types.hpp"

#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

namespace mariadb {

// Parameter rows of one bulk execution of a prepared statement, kept column
// by column as the client library's array binding wants them. Rows are
// appended value by value, column after column; every row must give every
// column a value or NULL. Text values are referenced, not copied: they must
// stay alive and unchanged until the statement has been executed.
class bulk_rows
{
public:
    enum class kind { integer, text, date_time };

    // A UTC calendar instant with microseconds, as a DATETIME parameter.
    using date_time_value = date_time_fields;

    explicit bulk_rows(std::vector<kind> _columns);

    void clear();
    // Rows complete so far.
    std::size_t size() const;
    const std::vector<kind>& columns() const { return m_kinds; }

    void add_integer(std::optional<long long> _value);
    void add_text(std::optional<std::string_view> _value);
    void add_date_time(const date_time_value& _value);

    // Column storage, for the statement that binds it.
    struct column
    {
        std::vector<long long> integers;
        std::vector<const char*> texts;
        std::vector<unsigned long> lengths;
        std::vector<date_time_value> date_times;
        std::vector<char> indicators;
    };
    const std::vector<column>& data() const { return m_columns; }

private:
    // The client library's STMT_INDICATOR_NONE and STMT_INDICATOR_NULL
    // (checked where mysql.h is included).
    static constexpr char value_indicator = 0;
    static constexpr char null_indicator = 1;

    column& next_column(kind _kind)
    {
        // Called ten thousand times per piece of a thousand rows: inline,
        // with the check that keeps rows aligned as the only branch.
        if (m_kinds[m_next] != _kind) throw_kind_mismatch();
        column& c = m_columns[m_next];
        if (++m_next == m_kinds.size()) m_next = 0;
        ++m_values;
        return c;
    }
    [[noreturn]] static void throw_kind_mismatch();

    std::vector<kind> m_kinds;
    std::vector<column> m_columns;
    std::size_t m_next = 0;
    std::size_t m_values = 0;
};

inline void bulk_rows::add_integer(std::optional<long long> _value)
{
    column& c = next_column(kind::integer);
    c.integers.push_back(_value.value_or(0));
    c.indicators.push_back(_value ? value_indicator : null_indicator);
}

inline void bulk_rows::add_text(std::optional<std::string_view> _value)
{
    column& c = next_column(kind::text);
    c.texts.push_back(_value ? _value->data() : "");
    c.lengths.push_back(_value ? _value->size() : 0);
    c.indicators.push_back(_value ? value_indicator : null_indicator);
}

inline void bulk_rows::add_date_time(const date_time_value& _value)
{
    column& c = next_column(kind::date_time);
    c.date_times.push_back(_value);
    c.indicators.push_back(value_indicator);
}

}  // namespace mariadb
