#pragma once

#include "mariadb++/connection.hpp"

namespace zav {

// Prepares a new session for the store. On a Galera node (wsrep_on) it
// makes reads wait until the node has applied every write committed anywhere
// in the cluster before the read (wsrep_sync_wait = 1), so that the newest
// written time and the presence tests of a recovery see what was written
// through another node, and it refuses a node that is not ready (outside the
// primary component), so that the connection moves on to the next node.
// Elsewhere it changes nothing. Returns whether the server is a Galera node.
bool prepare_session(mariadb::connection& _connection);

}  // namespace zav
