#include "store/galera_session.hpp"

#include "store/node_address.hpp"

#include <stdexcept>

namespace zav {

namespace {

// The value of a server variable or status variable, empty when the server
// has none of that name (a build without Galera support).
std::string server_setting(mariadb::connection& _connection, const std::string& _show)
{
    auto rows = _connection.query(_show);
    return rows->next() ? rows->get_string("Value") : std::string();
}

}  // namespace

bool prepare_session(mariadb::connection& _connection)
{
    if (server_setting(_connection, "SHOW GLOBAL VARIABLES LIKE 'wsrep_on'") != "ON") return false;
    if (server_setting(_connection, "SHOW GLOBAL STATUS LIKE 'wsrep_ready'") != "ON")
        throw std::runtime_error("the Galera node " + _connection.account()->host_name() + ":" +
                                 std::to_string(_connection.account()->port()) +
                                 " is not ready (not part of the primary component)");
    _connection.execute("SET SESSION wsrep_sync_wait = 1");
    return true;
}

void prepare_store_sessions(mariadb::connection& _connection, const libs::core::logger& _logger)
{
    _connection.set_session_setup([&_logger](mariadb::connection& _session) {
        const bool galera = prepare_session(_session);
        const auto& account = *_session.account();
        _logger.info("Connected to database node %1%%2%") %
            node_address{account.host_name(), account.port()}.to_string() %
            (galera ? " (Galera cluster node)" : "");
    });
}

}  // namespace zav
