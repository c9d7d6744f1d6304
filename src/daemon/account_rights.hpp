#pragma once

#include "mariadb++/connection.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace zav {

struct right_check
{
    // "the account may INSERT into positions", or "the account may not ...:
    // <the server's refusal>".
    std::string text;
    bool ok = false;
    // The server's error number of a refusal; 0 when ok.
    std::uint32_t error_number = 0;
};

// Whether the account of _connection holds every right the daemon uses, one
// result per right: SELECT on positions_raw; SELECT, INSERT on positions (and
// DELETE with _repair_late_rows); SELECT, INSERT, UPDATE on
// trackmend_writer_lease and trackmend_late_check; SELECT, INSERT, UPDATE,
// DELETE on trackmend_read_ledger. Each right is asked with EXPLAIN of a
// statement that needs it, which the server checks but does not carry out,
// so nothing changes. One of the daemon's own tables that does not exist
// (and that the account may see missing) is fine: the daemon creates it at
// start, which then needs the CREATE privilege.
std::vector<right_check> check_account_rights(mariadb::connection& _connection, bool _repair_late_rows);

}  // namespace zav
