#pragma once

#include "position.hpp"

#include "core/logger.hpp"

#include "mariadb++/result_set.hpp"

namespace zav {

// Maps every remaining row of a positions_raw query (all columns and a
// column "microseconds" = MICROSECOND(ts)) to a position, in row order.
// Columns are found by name once. A row with NULL in trackable_id,
// trackable_uid or ts, or with a value that does not convert, is skipped
// with one warning naming its uid and time as far as they are known: one
// bad row must not fail its window, as every later attempt at the window
// would fail the same way. Throws when a column is missing or of another
// kind, which no later row can mend.
positions_vector read_raw_positions(mariadb::result_set& _rows, const zav::libs::core::logger& _logger);

}  // namespace zav
