#include "store/raw_position_reader.hpp"

#include "store/row_time.hpp"

#include <limits>
#include <stdexcept>
#include <string>

namespace zav {

namespace {

using mariadb::binary_row;
using mariadb::u32;

u32 required_column(const binary_row& _row, const std::string& _name, binary_row::kind _kind)
{
    const u32 index = _row.column_index(_name);
    if (index == binary_row::npos) throw std::runtime_error("Table positions_raw has no column " + _name);
    if (_row.column_kind(index) != _kind)
        throw std::runtime_error("Column " + _name + " of table positions_raw is of another type");
    return index;
}

raw_position_reader::columns find_columns(const binary_row& _row)
{
    using kind = binary_row::kind;
    return {required_column(_row, "trackable_id", kind::integer),
            required_column(_row, "trackable_uid", kind::text),
            required_column(_row, "mac_address", kind::text),
            required_column(_row, "ts", kind::date_time),
            required_column(_row, "x", kind::integer),
            required_column(_row, "y", kind::integer),
            required_column(_row, "z", kind::integer),
            required_column(_row, "area_uid", kind::text),
            required_column(_row, "project_uid", kind::text),
            required_column(_row, "inactive", kind::integer)};
}

// A wider integer column (a table altered to BIGINT) may hold values the
// position's field cannot.
template <typename T>
T narrow(const binary_row& _row, u32 _column)
{
    const long long value = _row.get_integer(_column);
    if (value < std::numeric_limits<T>::min() || value > std::numeric_limits<T>::max())
        throw std::out_of_range("value " + std::to_string(value) + " out of range");
    return static_cast<T>(value);
}

void read_optional_string(const binary_row& _row, u32 _column, boost::optional<std::string>& _value)
{
    if (!_row.get_is_null(_column)) _value.emplace(_row.get_text(_column));
}

template <typename T>
boost::optional<T> optional_integer(const binary_row& _row, u32 _column)
{
    if (_row.get_is_null(_column)) return boost::none;
    return narrow<T>(_row, _column);
}

// Why the row cannot be a position at all, or nullptr.
const char* missing_required_value(const binary_row& _row, const raw_position_reader::columns& _columns)
{
    if (_row.get_is_null(_columns.trackable_id)) return "trackable_id is NULL";
    if (_row.get_is_null(_columns.trackable_uid)) return "trackable_uid is NULL";
    if (_row.get_is_null(_columns.ts)) return "ts is NULL";
    return nullptr;
}

// Fills _p, a default position, in place: no position is moved per row.
void read_position(const binary_row& _row, const raw_position_reader::columns& _columns, position& _p)
{
    _p.trackable_id = narrow<int>(_row, _columns.trackable_id);
    _p.trackable_uid = _row.get_text(_columns.trackable_uid);
    read_optional_string(_row, _columns.mac_address, _p.mac_address);
    _p.ts = to_timestamp(_row.get_date_time(_columns.ts));
    _p.x = optional_integer<int>(_row, _columns.x);
    _p.y = optional_integer<int>(_row, _columns.y);
    _p.z = optional_integer<int>(_row, _columns.z);
    read_optional_string(_row, _columns.area_uid, _p.area_uid);
    read_optional_string(_row, _columns.project_uid, _p.project_uid);
    // A TINYINT's range, as the column's, although the field is wider.
    if (!_row.get_is_null(_columns.inactive)) _p.inactive = narrow<signed char>(_row, _columns.inactive);
}

// The uid and time of a row that is skipped, as far as they can be read.
std::string describe_uid(const binary_row& _row, const raw_position_reader::columns& _columns)
{
    if (_row.get_is_null(_columns.trackable_uid)) return "NULL";
    std::string quoted(1, '\'');
    quoted += _row.get_text(_columns.trackable_uid);
    quoted += '\'';
    return quoted;
}

std::string describe_ts(const binary_row& _row, const raw_position_reader::columns& _columns)
{
    if (_row.get_is_null(_columns.ts)) return "NULL";
    return to_timestamp(_row.get_date_time(_columns.ts)).to_iso_8601_string(true);
}

}  // namespace

raw_position_reader::raw_position_reader(const zav::libs::core::logger& _logger, positions_vector& _into)
    : m_logger(_logger), m_positions(_into)
{
}

void raw_position_reader::add(const binary_row& _row)
{
    if (!m_columns) m_columns = find_columns(_row);
    const char* missing = missing_required_value(_row, *m_columns);
    std::string reason = missing != nullptr ? missing : "";
    if (missing == nullptr) {
        try {
            read_position(_row, *m_columns, m_positions.emplace_back());
            return;
        } catch (const std::out_of_range& e) {
            m_positions.pop_back();
            reason = e.what();
        }
    }
    m_logger.warning("Skipping raw position of trackable %1% at %2%: %3%") % describe_uid(_row, *m_columns) %
        describe_ts(_row, *m_columns) % reason;
}

}  // namespace zav
