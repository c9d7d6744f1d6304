#include "parameter_binds.hpp"

namespace mariadb {

namespace {

// MYSQL_BIND points at parameter values through pointers to non-const,
// although the client library only reads them: the one place where the
// bound values lose their const.
template <typename T>
T* bound(const T* _value)
{
    return const_cast<T*>(_value);
}

MYSQL_TIME to_mysql_time(const date_time_fields& _value)
{
    MYSQL_TIME t{};
    t.year = _value.year;
    t.month = _value.month;
    t.day = _value.day;
    t.hour = _value.hour;
    t.minute = _value.minute;
    t.second = _value.second;
    t.second_part = _value.microsecond;
    t.time_type = MYSQL_TIMESTAMP_DATETIME;
    return t;
}

}  // namespace

parameter_binds::parameter_binds(const bulk_rows& _rows, rows _which)
{
    const auto& columns = _rows.data();
    const bool arrays = _which == rows::all_as_arrays;
    m_binds.resize(columns.size());
    m_times.resize(columns.size());
    m_time_pointers.resize(columns.size());
    if (!arrays) m_nulls.resize(columns.size());
    for (std::size_t c = 0; c < columns.size(); ++c) {
        MYSQL_BIND& b = m_binds[c];
        const auto& column = columns[c];
        if (arrays) {
            b.u.indicator = bound(column.indicators.data());
        } else {
            m_nulls[c] = column.indicators[0] == STMT_INDICATOR_NULL;
            b.is_null = &m_nulls[c];
        }
        switch (_rows.columns()[c]) {
            case bulk_rows::kind::integer:
                b.buffer_type = MYSQL_TYPE_LONGLONG;
                b.buffer = bound(column.integers.data());
                break;
            case bulk_rows::kind::text:
                b.buffer_type = MYSQL_TYPE_STRING;
                b.length = bound(column.lengths.data());
                if (arrays) {
                    b.buffer = bound(column.texts.data());
                } else {
                    b.buffer = bound(column.texts[0]);
                    b.buffer_length = column.lengths[0];
                }
                break;
            case bulk_rows::kind::date_time: {
                auto& times = m_times[c];
                const std::size_t count = arrays ? column.date_times.size() : 1;
                times.reserve(count);
                for (std::size_t r = 0; r < count; ++r) times.push_back(to_mysql_time(column.date_times[r]));
                b.buffer_type = MYSQL_TYPE_DATETIME;
                if (arrays) {
                    auto& pointers = m_time_pointers[c];
                    for (auto& time : times) pointers.push_back(&time);
                    b.buffer = pointers.data();
                } else {
                    b.buffer = times.data();
                }
                break;
            }
        }
    }
}

}  // namespace mariadb
