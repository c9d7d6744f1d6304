#include "daemon/configuration_check.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/optional.hpp>
#include <cerrno>
#include <cstring>
#include <map>
#include <set>
#include <vector>

#include "config.hpp"
#include "core/exception.hpp"
#include "mariadb++/account.hpp"
#include "mariadb++/connection.hpp"
#include "mariadb++/result_set.hpp"

namespace zav {

namespace {

struct table_use
{
    const char* name;
    std::vector<const char*> columns;
};

// The columns the store reads from positions_raw and writes to positions.
const table_use raw_table{"positions_raw",
                          {"trackable_id", "trackable_uid", "mac_address", "ts", "x", "y", "z", "area_uid",
                           "project_uid", "inactive", "type"}};
const table_use written_table{"positions",
                              {"trackable_id", "trackable_uid", "mac_address", "ts", "x", "y", "z",
                               "area_uid", "project_uid", "inactive"}};

class report
{
public:
    explicit report(std::ostream& _out) : m_out(_out) {}

    bool line(bool _ok, const std::string& _text)
    {
        m_out << (_ok ? "ok: " : "FAILED: ") << _text << '\n';
        m_all_ok = m_all_ok && _ok;
        return _ok;
    }
    bool all_ok() const { return m_all_ok; }

private:
    std::ostream& m_out;
    bool m_all_ok = true;
};

// The message of the exception being handled, on one line.
std::string current_error()
{
    std::string text;
    try {
        throw;
    } catch (const libs::core::exception& e) {
        text = e.get_string_error();
    } catch (const std::exception& e) {
        text = e.what();
    } catch (...) {
        text = "unknown error";
    }
    for (char& c : text)
        if (c == '\n') c = ';';
    return text;
}

void check_state_directory(const std::string& _dir, report& _report)
{
    struct stat info
    {
    };
    if (::stat(_dir.c_str(), &info) != 0) {
        _report.line(false, "state directory " + _dir + ": " + std::strerror(errno));
        return;
    }
    if (!S_ISDIR(info.st_mode)) {
        _report.line(false, "state directory " + _dir + ": not a directory");
        return;
    }
    // The effective ids decide, as they will for the daemon's own writes.
    if (::faccessat(AT_FDCWD, _dir.c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
        _report.line(false, "state directory " + _dir + " is not writable: " + std::strerror(errno));
        return;
    }
    _report.line(true, "state directory " + _dir + " is writable");
}

// Columns of the schema's tables, as far as the account may see them.
std::map<std::string, std::set<std::string>> visible_columns(mariadb::connection& _connection)
{
    std::map<std::string, std::set<std::string>> columns;
    auto rows = _connection.query(
        "SELECT TABLE_NAME AS table_name, COLUMN_NAME AS column_name FROM information_schema.COLUMNS "
        "WHERE TABLE_SCHEMA = DATABASE() AND TABLE_NAME IN ('positions_raw', 'positions')");
    while (rows->next()) columns[rows->get_string("table_name")].insert(rows->get_string("column_name"));
    return columns;
}

bool check_table(const table_use& _table, const std::map<std::string, std::set<std::string>>& _columns,
                 report& _report)
{
    const auto found = _columns.find(_table.name);
    if (found == _columns.end())
        return _report.line(false, std::string("table ") + _table.name +
                                       " does not exist (or the account has no privilege on it)");
    std::string missing;
    for (const char* column : _table.columns)
        if (!found->second.count(column)) missing += (missing.empty() ? "" : ", ") + std::string(column);
    if (!missing.empty())
        return _report.line(false, std::string("table ") + _table.name + " lacks the columns " + missing);
    return _report.line(true, std::string("table ") + _table.name + " has the columns the daemon uses");
}

std::string column_list(const table_use& _table)
{
    std::string list;
    for (const char* column : _table.columns) list += (list.empty() ? "" : ", ") + std::string(column);
    return list;
}

// Runs _statement, which the server checks for privileges but does not
// carry out (EXPLAIN).
void check_privilege(mariadb::connection& _connection, const std::string& _what,
                     const std::string& _statement, report& _report)
{
    try {
        _connection.query(_statement);
        _report.line(true, "the account may " + _what);
    } catch (...) {
        _report.line(false, "the account may not " + _what + ": " + current_error());
    }
}

}  // namespace

bool check_configuration(const std::string& _config_file, std::ostream& _out)
{
    report result(_out);
    boost::optional<config> settings;
    try {
        settings = config::from_file(_config_file);
        result.line(true, "configuration " + _config_file + " is valid");
    } catch (...) {
        result.line(false, "configuration " + _config_file + ": " + current_error());
        return false;
    }

    check_state_directory(settings->system.persistent_data_dir, result);

    const auto& dw = settings->dw;
    // Every node of a list is checked: the daemon may have to use any of them.
    const node_addresses nodes = dw.hosts.empty() ? node_addresses{{dw.host, dw.port}} : dw.hosts;
    for (const auto& node : nodes) {
        const std::string where = dw.user + "@" + node.to_string() + "/" + dw.database;
        mariadb::connection_ref connection;
        try {
            connection = mariadb::connection::create(
                mariadb::account::create(node.host, dw.user, dw.password, dw.database, node.port, ""));
            connection->connect();
            result.line(true, "connected to the database " + where);
        } catch (...) {
            result.line(false, "cannot connect to the database " + where + ": " + current_error());
            continue;
        }

        try {
            const auto columns = visible_columns(*connection);
            if (check_table(raw_table, columns, result))
                check_privilege(*connection, "SELECT from positions_raw",
                                "EXPLAIN SELECT " + column_list(raw_table) + " FROM positions_raw LIMIT 1",
                                result);
            if (check_table(written_table, columns, result)) {
                check_privilege(*connection, "SELECT from positions",
                                "EXPLAIN SELECT " + column_list(written_table) + " FROM positions LIMIT 1",
                                result);
                check_privilege(*connection, "INSERT into positions",
                                "EXPLAIN INSERT INTO positions (" + column_list(written_table) +
                                    ") VALUES (0, '', NULL, '2000-01-01 00:00:00', 0, 0, 0, '', '', 0)",
                                result);
            }
        } catch (...) {
            result.line(false, "reading the schema of " + where + ": " + current_error());
        }
    }
    return result.all_ok();
}

}  // namespace zav
