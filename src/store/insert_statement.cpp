#include "store/insert_statement.hpp"

#include "store/sql_text.hpp"

namespace zav {

namespace {

void append_quoted(std::string& _sql, const std::string& _value, const sql_escape& _escape)
{
    _sql += '\'';
    _sql += _escape(_value);
    _sql += '\'';
}

void append_optional_string(std::string& _sql, const boost::optional<std::string>& _value,
                            const sql_escape& _escape)
{
    if (_value)
        append_quoted(_sql, *_value, _escape);
    else
        _sql += "NULL";
}

template <typename T>
void append_optional_integer(std::string& _sql, const boost::optional<T>& _value)
{
    if (_value)
        sql_text::append_integer(_sql, *_value);
    else
        _sql += "NULL";
}

}  // namespace

std::string render_insert_statement(boost::sub_range<const positions_vector> _range,
                                    const sql_escape& _escape)
{
    std::string sql;
    // About 100 bytes per typical tuple; one reservation avoids regrowing
    // statements of thousands of tuples.
    sql.reserve(128 + 112 * static_cast<std::size_t>(_range.size()));
    sql += "INSERT INTO positions";
    sql += " ( trackable_id, trackable_uid, mac_address, ts, x, y, z, area_uid, project_uid, inactive ) ";
    sql += " VALUES ";
    bool first = true;
    for (const position& p : _range) {
        if (!first) sql += ", ";
        first = false;
        sql += '(';
        sql_text::append_integer(sql, p.trackable_id);
        sql += ',';
        append_quoted(sql, p.trackable_uid, _escape);
        sql += ',';
        append_optional_string(sql, p.mac_address, _escape);
        sql += ",'";
        sql_text::append_timestamp(sql, p.ts);
        sql += "',";
        append_optional_integer(sql, p.x);
        sql += ',';
        append_optional_integer(sql, p.y);
        sql += ',';
        append_optional_integer(sql, p.z);
        sql += ',';
        append_optional_string(sql, p.area_uid, _escape);
        sql += ',';
        append_optional_string(sql, p.project_uid, _escape);
        sql += ',';
        append_optional_integer(sql, p.inactive);
        sql += ')';
    }
    return sql;
}

}  // namespace zav
