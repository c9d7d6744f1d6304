#pragma once

#include "mariadb++/bulk_rows.hpp"

#include <mysql.h>

#include <vector>

namespace mariadb {

// The MYSQL_BIND array that binds the parameters of a prepared statement to
// the values of bulk_rows, with the converted values it points into. Lives
// no longer than the bulk_rows it was made from, and is not moved: the binds
// point into it.
class parameter_binds
{
public:
    enum class rows {
        // Every row, as parameter arrays (STMT_ATTR_ARRAY_SIZE): strings and
        // the date types as arrays of pointers to the values, fixed-size
        // numbers as arrays of the values, NULL through the indicators.
        all_as_arrays,
        // The first row alone, bound directly, for statements that cannot
        // take arrays (a SELECT).
        first_only,
    };

    parameter_binds(const bulk_rows& _rows, rows _which);

    parameter_binds(const parameter_binds&) = delete;
    parameter_binds& operator=(const parameter_binds&) = delete;

    MYSQL_BIND* data() { return m_binds.data(); }

private:
    std::vector<MYSQL_BIND> m_binds;
    std::vector<std::vector<MYSQL_TIME>> m_times;
    std::vector<std::vector<MYSQL_TIME*>> m_time_pointers;
    std::vector<my_bool> m_nulls;
};

}  // namespace mariadb
