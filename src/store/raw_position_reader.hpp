#pragma once

#include "position.hpp"

#include "core/logger.hpp"

#include "mariadb++/binary_row.hpp"

#include <optional>

namespace zav {

// Maps the rows of a positions_raw query (all columns), one by one in row
// order, to positions. Columns are found by name at the first row. A row
// with NULL in trackable_id, trackable_uid or ts, or with a value that does
// not fit its field, is skipped with one warning naming its uid and time as
// far as they are known: one bad row must not fail its window, as every
// later attempt at the window would fail the same way. Throws when a column
// is missing or of another kind, which no later row can mend.
class raw_position_reader
{
public:
    // Appends to _into, which must outlive the reader; _logger too. The
    // caller makes room beforehand: a window's rows are hundreds of bytes
    // each, and growing the vector step by step moves them all again and
    // again.
    raw_position_reader(const zav::libs::core::logger& _logger, positions_vector& _into);

    void add(const mariadb::binary_row& _row);

    struct columns
    {
        mariadb::u32 trackable_id, trackable_uid, mac_address, ts, x, y, z, area_uid, project_uid, inactive;
    };

private:
    const zav::libs::core::logger& m_logger;
    std::optional<columns> m_columns;
    positions_vector& m_positions;
};

}  // namespace zav
