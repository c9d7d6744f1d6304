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
#include "daemon/account_rights.hpp"
#include "mariadb++/connection.hpp"
#include "mariadb++/result_set.hpp"
#include "store/node_accounts.hpp"
#include "store/start_up_failure.hpp"

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
    // Does not fail the check: the daemon would start.
    void warning(const std::string& _text) { m_out << "warning: " << _text << '\n'; }
    bool all_ok() const { return m_all_ok; }

private:
    std::ostream& m_out;
    bool m_all_ok = true;
};

// Whether the effective ids may create files in _dir, as they will for the
// daemon's own writes.
void check_writable_directory(const std::string& _what, const std::string& _dir, report& _report)
{
    struct stat info
    {
    };
    if (::stat(_dir.c_str(), &info) != 0) {
        _report.line(false, _what + " " + _dir + ": " + std::strerror(errno));
        return;
    }
    if (!S_ISDIR(info.st_mode)) {
        _report.line(false, _what + " " + _dir + ": not a directory");
        return;
    }
    if (::faccessat(AT_FDCWD, _dir.c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
        _report.line(false, _what + " " + _dir + " is not writable: " + std::strerror(errno));
        return;
    }
    _report.line(true, _what + " " + _dir + " is writable");
}

std::string directory_of(const std::string& _path)
{
    const auto slash = _path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : _path.substr(0, slash);
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

void check_table(const table_use& _table, const std::map<std::string, std::set<std::string>>& _columns,
                 report& _report)
{
    const auto found = _columns.find(_table.name);
    if (found == _columns.end()) {
        _report.line(false, std::string("table ") + _table.name +
                                " does not exist (or the account has no privilege on it)");
        return;
    }
    std::string missing;
    for (const char* column : _table.columns)
        if (!found->second.count(column)) missing += (missing.empty() ? "" : ", ") + std::string(column);
    if (!missing.empty())
        _report.line(false, std::string("table ") + _table.name + " lacks the columns " + missing);
    else
        _report.line(true, std::string("table ") + _table.name + " has the columns the daemon uses");
}

std::string encryption(const mariadb::connection& _connection)
{
    const std::string cipher = _connection.tls_cipher();
    if (cipher.empty()) return "not encrypted";
    return "encrypted with TLS (" + cipher + ")";
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
        result.line(false, "configuration " + _config_file + ": " + current_error_text());
        return false;
    }
    for (const auto& warning : settings->warnings) result.warning(warning);

    check_writable_directory("state directory", settings->system.persistent_data_dir, result);
    check_writable_directory("PID file directory", directory_of(settings->system.pidfile_path), result);

    const auto& dw = settings->dw;
    // Every node of a list is checked: the daemon may have to use any of them.
    const node_addresses nodes = dw.hosts.empty() ? node_addresses{{dw.host, dw.port}} : dw.hosts;
    for (const auto& node : nodes) {
        const std::string where = dw.user + "@" + node.to_string() + "/" + dw.database;
        mariadb::connection_ref connection;
        try {
            connection =
                mariadb::connection::create(node_accounts({node}, dw.user, dw.password, dw.database, dw.tls));
            connection->connect();
            result.line(true, "connected to the database " + where + ", " + encryption(*connection));
        } catch (...) {
            result.line(false, "cannot connect to the database " + where + ": " + current_error_text());
            continue;
        }

        try {
            const auto columns = visible_columns(*connection);
            check_table(raw_table, columns, result);
            check_table(written_table, columns, result);
            for (const auto& right : check_account_rights(*connection, settings->system.repair_late_rows))
                result.line(right.ok, right.text);
        } catch (...) {
            result.line(false, "reading the schema of " + where + ": " + current_error_text());
        }
    }
    return result.all_ok();
}

}  // namespace zav
