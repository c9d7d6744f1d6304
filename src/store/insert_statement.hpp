#pragma once

#include "position.hpp"

#include <boost/range/sub_range.hpp>

#include <functional>
#include <string>
#include <string_view>

namespace zav {

// Quotes a string value for use between single quotes in SQL text.
using sql_escape = std::function<std::string(std::string_view)>;

// One multi-row INSERT of _range into positions, without a terminating
// semicolon:
//   INSERT INTO positions ( trackable_id, ... , inactive )  VALUES (7,'T1',NULL,...), (...)
// String values pass through _escape between single quotes; absent optional
// values are NULL; times have three millisecond
// digits. _range must not be empty.
std::string render_insert_statement(boost::sub_range<const positions_vector> _range,
                                    const sql_escape& _escape);

}  // namespace zav
