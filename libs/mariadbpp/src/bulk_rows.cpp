#include "mariadb++/bulk_rows.hpp"

#include <mysql.h>

#include <stdexcept>

namespace mariadb {

bulk_rows::bulk_rows(std::vector<kind> _columns) : m_kinds(std::move(_columns)), m_columns(m_kinds.size())
{
    if (m_kinds.empty()) throw std::invalid_argument("bulk_rows needs at least one column");
}

void bulk_rows::clear()
{
    for (auto& c : m_columns) {
        c.integers.clear();
        c.texts.clear();
        c.lengths.clear();
        c.date_times.clear();
        c.indicators.clear();
    }
    m_next = 0;
    m_values = 0;
}

std::size_t bulk_rows::size() const { return m_values / m_kinds.size(); }

bulk_rows::column& bulk_rows::next_column(kind _kind)
{
    if (m_kinds[m_next] != _kind) throw std::logic_error("bulk_rows: value of another kind than its column");
    column& c = m_columns[m_next];
    m_next = (m_next + 1) % m_kinds.size();
    ++m_values;
    return c;
}

void bulk_rows::add_integer(std::optional<long long> _value)
{
    column& c = next_column(kind::integer);
    c.integers.push_back(_value.value_or(0));
    c.indicators.push_back(_value ? STMT_INDICATOR_NONE : STMT_INDICATOR_NULL);
}

void bulk_rows::add_text(std::optional<std::string_view> _value)
{
    column& c = next_column(kind::text);
    c.texts.push_back(_value ? _value->data() : "");
    c.lengths.push_back(_value ? _value->size() : 0);
    c.indicators.push_back(_value ? STMT_INDICATOR_NONE : STMT_INDICATOR_NULL);
}

void bulk_rows::add_date_time(const date_time_value& _value)
{
    column& c = next_column(kind::date_time);
    c.date_times.push_back(_value);
    c.indicators.push_back(STMT_INDICATOR_NONE);
}

}  // namespace mariadb
