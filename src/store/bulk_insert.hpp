#pragma once

#include "position.hpp"

#include "mariadb++/bulk_rows.hpp"

#include <boost/range/sub_range.hpp>

namespace zav::bulk_insert {

// The prepared INSERT of one position into positions; executed with an
// array of parameter rows it inserts a whole piece in one round trip.
extern const char* const statement;

// Empty parameter rows with the ten columns of the statement.
mariadb::bulk_rows make_rows();

// Replaces the rows of _rows with _range, one row per position. The rows
// refer to the strings of _range, which must outlive the execution.
void fill(mariadb::bulk_rows& _rows, boost::sub_range<const positions_vector> _range);

}  // namespace zav::bulk_insert
