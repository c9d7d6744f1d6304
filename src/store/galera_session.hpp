#pragma once

#include "core/logger.hpp"

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

// utf8mb4 rather than the 3-byte utf8: uids and areas may hold any Unicode
// character, and a 4-byte one sent over a utf8 session is rejected by the
// server, which would fail the write of its batch on every retry.
inline constexpr const char* store_charset = "utf8mb4";

// Makes every new session of _connection a store session: prepared as
// above and logged ("Connected to database node ..."). _logger must outlive
// the connection.
void prepare_store_sessions(mariadb::connection& _connection, const libs::core::logger& _logger);

}  // namespace zav
