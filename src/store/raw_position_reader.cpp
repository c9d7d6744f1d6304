#include "store/raw_position_reader.hpp"

#include "store/row_time.hpp"

#include <stdexcept>
#include <string>

namespace zav {

namespace {

using mariadb::result_set;
using mariadb::u32;

u32 required_column(const result_set& _rows, const std::string& _name)
{
    const u32 index = _rows.column_index(_name);
    if (index == result_set::npos) throw std::runtime_error("Table positions_raw has no column " + _name);
    return index;
}

// Column indexes of a positions_raw window, resolved once per query rather
// than once per value.
struct raw_columns
{
    explicit raw_columns(const result_set& _rows)
        : trackable_id(required_column(_rows, "trackable_id")),
          trackable_uid(required_column(_rows, "trackable_uid")),
          mac_address(required_column(_rows, "mac_address")),
          microseconds(required_column(_rows, "microseconds")),
          ts(required_column(_rows, "ts")),
          x(required_column(_rows, "x")),
          y(required_column(_rows, "y")),
          z(required_column(_rows, "z")),
          area_uid(required_column(_rows, "area_uid")),
          project_uid(required_column(_rows, "project_uid")),
          inactive(required_column(_rows, "inactive"))
    {
    }

    u32 trackable_id, trackable_uid, mac_address, microseconds, ts, x, y, z, area_uid, project_uid, inactive;
};

boost::optional<std::string> optional_string(const result_set& _rows, u32 _column)
{
    if (_rows.get_is_null(_column)) return boost::none;
    return _rows.get_string(_column);
}

boost::optional<int> optional_int(const result_set& _rows, u32 _column)
{
    if (_rows.get_is_null(_column)) return boost::none;
    return _rows.get_signed32(_column);
}

// Why the current row cannot be a position at all, or nullptr.
const char* missing_required_value(const result_set& _rows, const raw_columns& _columns)
{
    if (_rows.get_is_null(_columns.trackable_id)) return "trackable_id is NULL";
    if (_rows.get_is_null(_columns.trackable_uid)) return "trackable_uid is NULL";
    if (_rows.get_is_null(_columns.ts) || _rows.get_is_null(_columns.microseconds)) return "ts is NULL";
    return nullptr;
}

position read_position(const result_set& _rows, const raw_columns& _columns)
{
    position p;
    p.trackable_id = _rows.get_signed32(_columns.trackable_id);
    p.trackable_uid = _rows.get_string(_columns.trackable_uid);
    p.mac_address = optional_string(_rows, _columns.mac_address);
    const int microseconds = _rows.get_signed32(_columns.microseconds);
    p.ts = to_timestamp(_rows.get_date_time(_columns.ts), microseconds);
    p.x = optional_int(_rows, _columns.x);
    p.y = optional_int(_rows, _columns.y);
    p.z = optional_int(_rows, _columns.z);
    p.area_uid = optional_string(_rows, _columns.area_uid);
    p.project_uid = optional_string(_rows, _columns.project_uid);
    if (!_rows.get_is_null(_columns.inactive))
        p.inactive = static_cast<short>(_rows.get_signed8(_columns.inactive));
    return p;
}

// The uid and time of a row that is skipped, as far as they can be read.
std::string describe_uid(const result_set& _rows, const raw_columns& _columns)
{
    if (_rows.get_is_null(_columns.trackable_uid)) return "NULL";
    std::string quoted(1, '\'');
    quoted += _rows.get_string(_columns.trackable_uid);
    quoted += '\'';
    return quoted;
}

std::string describe_ts(const result_set& _rows, const raw_columns& _columns)
{
    if (_rows.get_is_null(_columns.ts)) return "NULL";
    try {
        const int microseconds =
            _rows.get_is_null(_columns.microseconds) ? 0 : _rows.get_signed32(_columns.microseconds);
        return to_timestamp(_rows.get_date_time(_columns.ts), microseconds).to_iso_8601_string(true);
    } catch (const std::exception&) {
        return "an unreadable time";
    }
}

}  // namespace

positions_vector read_raw_positions(mariadb::result_set& _rows, const zav::libs::core::logger& _logger)
{
    const raw_columns columns(_rows);
    positions_vector positions;
    positions.reserve(_rows.row_count());
    while (_rows.next()) {
        const char* missing = missing_required_value(_rows, columns);
        std::string reason = missing != nullptr ? missing : "";
        if (missing == nullptr) {
            try {
                positions.push_back(read_position(_rows, columns));
                continue;
            } catch (const std::invalid_argument& e) {
                reason = e.what();
            } catch (const std::out_of_range& e) {
                reason = e.what();
            }
        }
        _logger.warning("Skipping raw position of trackable %1% at %2%: %3%") % describe_uid(_rows, columns) %
            describe_ts(_rows, columns) % reason;
    }
    return positions;
}

}  // namespace zav
