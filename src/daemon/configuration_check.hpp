#pragma once

#include <ostream>
#include <string>

namespace zav {

// `trackmend -c FILE --check-config`: whether a daemon started with FILE
// could work. Reads and validates FILE as a start does (printing its
// warnings), checks that the state directory and the PID file's directory
// are writable, connects to every database node (saying whether the
// connection is encrypted), checks that positions_raw and positions have the
// columns the daemon uses and that the account holds every right the daemon
// needs (check_account_rights). Prints one line per check to _out, "ok: ..."
// or "FAILED: ...", and "warning: ..." for what does not stop a start; a
// check that depends on a failed one is not run. Takes no PID file and
// changes nothing, neither in files nor in the database. Returns true when
// every check passed.
bool check_configuration(const std::string& _config_file, std::ostream& _out);

}  // namespace zav
