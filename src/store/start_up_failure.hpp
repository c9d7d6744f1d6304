#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace zav {

// What a failure that no wait can mend stands for, from the server's or the
// client library's error number: the server answered and refused for a
// reason only an operator can change (the account, the schema, a table or a
// right, TLS). Nothing when waiting may help (the server is unreachable or
// busy, a statement failed for a passing reason).
std::optional<std::string> unmendable_cause(std::uint32_t _error_number);

// The MariaDB error number of the exception being handled (of the MariaDB
// layer or a store_error), 0 for every other exception. Call it inside a
// catch handler only.
std::uint32_t current_error_number();

// The message of the exception being handled, without its location, on one
// line (line breaks become "; "). Call it inside a catch handler only.
std::string current_error_text();

}  // namespace zav
