#pragma once

// The private MariaDB server of the integration tests, found through the
// environment that scripts/test sets (TRACKMEND_TEST_DB_*). Tests skip when
// it is absent.

#include "mariadb++/account.hpp"
#include "mariadb++/connection.hpp"

#include <cstdlib>
#include <optional>
#include <string>

namespace trackmend_test {

struct mariadb_test_server
{
    std::string host;
    unsigned int port = 0;
    std::string user, password, schema;
    // Data directory and scripts/mariadb-test-server, for stopping and
    // restarting the server; may be empty.
    std::string dir, script;

    static std::optional<mariadb_test_server> from_environment(const std::string& _script = "")
    {
        auto get = [](const char* _name) {
            return std::getenv((std::string("TRACKMEND_TEST_DB_") + _name).c_str());
        };
        if (!get("HOST") || !get("PORT") || !get("USER") || !get("PASSWORD") || !get("NAME"))
            return std::nullopt;
        return mariadb_test_server{get("HOST"), static_cast<unsigned int>(std::stoul(get("PORT"))),
                                   get("USER"), get("PASSWORD"),
                                   get("NAME"), get("DIR") ? get("DIR") : "",
                                   _script};
    }

    static constexpr const char* skip_message =
        "no test MariaDB server: set TRACKMEND_TEST_DB_HOST, _PORT, _USER, _PASSWORD and _NAME "
        "(scripts/test does, with scripts/mariadb-test-server)";

    mariadb::connection_ref connect() const
    {
        auto connection =
            mariadb::connection::create(mariadb::account::create(host, user, password, schema, port, ""));
        connection->set_charset("utf8mb4");
        return connection;
    }

    // The rows of a query as text, one line per row, columns separated by
    // tabs, SQL NULL as "NULL" (as the command-line client prints them).
    // Every column must be of a string kind: CAST numbers and times.
    static std::string query_text(mariadb::connection& _connection, const std::string& _query)
    {
        auto rows = _connection.query(_query);
        std::string text;
        while (rows->next()) {
            for (mariadb::u32 c = 0; c < rows->column_count(); ++c) {
                if (c > 0) text += '\t';
                text += rows->get_is_null(c) ? std::string("NULL") : rows->get_string(c);
            }
            text += '\n';
        }
        return text;
    }

    bool can_restart() const { return !dir.empty() && !script.empty(); }
    // Stop or start the server with the script; true on success.
    bool stop() const { return run("stop '" + dir + "'"); }
    bool start() const { return run("start '" + dir + "' " + std::to_string(port)); }

private:
    bool run(const std::string& _arguments) const
    {
        return std::system(("'" + script + "' " + _arguments + " >/dev/null").c_str()) == 0;
    }
};

}  // namespace trackmend_test
