#pragma once

#include <ostream>
#include <string>

namespace zav {

// `trackmend -c FILE --check-config`: whether a daemon started with FILE
// could work. Reads and validates FILE as a start does, checks that the state
// directory is writable, connects to the database, checks that both tables
// have the columns the daemon uses and that the account may SELECT
// positions_raw and positions and INSERT into positions. Prints one line per
// check to _out, "ok: ..." or "FAILED: ..."; a check that depends on a failed
// one is not run. Takes no PID file and changes nothing, neither in files nor
// in the database (the INSERT privilege is checked with EXPLAIN). Returns
// true when every check passed.
bool check_configuration(const std::string& _config_file, std::ostream& _out);

}  // namespace zav
