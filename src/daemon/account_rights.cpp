#include "daemon/account_rights.hpp"

#include "store/start_up_failure.hpp"

#include <mysqld_error.h>

namespace zav {

namespace {

enum right { select_right, insert_right, update_right, delete_right };

struct table_rights
{
    const char* table;
    std::vector<right> rights;
    // A column the UPDATE check may name.
    const char* column;
    // Whether the daemon creates the table when it is missing.
    bool created_by_daemon;
};

const char* right_name(right _right)
{
    switch (_right) {
        case select_right:
            return "SELECT from";
        case insert_right:
            return "INSERT into";
        case update_right:
            return "UPDATE";
        case delete_right:
            return "DELETE from";
    }
    return "";
}

std::string explained_statement(right _right, const table_rights& _table)
{
    const std::string table = _table.table;
    switch (_right) {
        case select_right:
            return "EXPLAIN SELECT * FROM " + table + " LIMIT 1";
        case insert_right:
            return "EXPLAIN INSERT INTO " + table + " () VALUES ()";
        case update_right:
            return "EXPLAIN UPDATE " + table + " SET " + _table.column + " = " + _table.column + " WHERE 0";
        case delete_right:
            return "EXPLAIN DELETE FROM " + table + " WHERE 0";
    }
    return {};
}

}  // namespace

std::vector<right_check> check_account_rights(mariadb::connection& _connection, bool _repair_late_rows)
{
    std::vector<table_rights> tables{
        {"positions_raw", {select_right}, "ts", false},
        {"positions", {select_right, insert_right}, "ts", false},
        {"trackmend_writer_lease", {select_right, insert_right, update_right}, "holder", true},
        {"trackmend_read_ledger", {select_right, insert_right, update_right, delete_right}, "raw_rows", true},
        {"trackmend_late_check", {select_right, insert_right, update_right}, "checked_raw_id", true},
    };
    if (_repair_late_rows) tables[1].rights.push_back(delete_right);

    std::vector<right_check> checks;
    for (const auto& table : tables) {
        for (const right r : table.rights) {
            const std::string what = std::string(right_name(r)) + " " + table.table;
            try {
                _connection.query(explained_statement(r, table));
                checks.push_back({"the account may " + what, true, 0});
            } catch (...) {
                const auto number = current_error_number();
                if (r == select_right && number == ER_NO_SUCH_TABLE && table.created_by_daemon) {
                    checks.push_back({std::string("table ") + table.table +
                                          " does not exist yet: the daemon creates it at start, which needs "
                                          "the CREATE privilege (sql/schema.sql creates it too)",
                                      true, 0});
                    break;
                }
                checks.push_back(
                    {"the account may not " + what + ": " + current_error_text(), false, number});
                // Without SELECT the table may as well be missing: the
                // other rights of it would only repeat the refusal.
                if (r == select_right) break;
            }
        }
    }
    return checks;
}

}  // namespace zav
