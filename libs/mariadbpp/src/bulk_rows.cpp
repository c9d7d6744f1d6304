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

static_assert(STMT_INDICATOR_NONE == 0 && STMT_INDICATOR_NULL == 1,
              "bulk_rows.hpp writes the client library's indicators as numbers");

void bulk_rows::throw_kind_mismatch()
{
    throw std::logic_error("bulk_rows: value of another kind than its column");
}

}  // namespace mariadb
