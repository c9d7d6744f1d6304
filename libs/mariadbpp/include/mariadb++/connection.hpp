#pragma once

#include "mariadb++/account.hpp"
#include "mariadb++/last_error.hpp"
#include "mariadb++/result_set.hpp"
#include "mariadb++/types.hpp"

#include <memory>
#include <string>
#include <string_view>

struct st_mysql;

namespace mariadb {

class connection;
using connection_ref = std::shared_ptr<connection>;

// One connection to a server. It connects lazily: every operation first
// calls connect(), which pings an existing session and, when the ping fails
// (the server restarted, the network dropped), connects the same handle
// again and restores the schema and character set. A statement that fails on
// the wire is not retried.
//
// Every failure of the client library is stored in last_error, reported on
// standard error and thrown as exception::connection. After a failure the
// object stays usable. Not thread-safe: one thread at a time.
class connection : public last_error
{
    struct private_tag
    {
    };

public:
    // Stores the account; touches no server.
    static connection_ref create(const account_ref& _account);

    connection(private_tag, const account_ref& _account);
    connection(const connection&) = delete;
    connection& operator=(const connection&) = delete;
    virtual ~connection();

    bool connect();
    // Sets the character set of the session, and again after every reconnect.
    bool set_charset(const std::string& _name);
    // Runs statements that return no rows (several may be separated by ';')
    // and returns the total of their affected rows.
    u64 execute(const std::string& _statements);
    // Runs one statement that returns rows; the result is positioned before
    // its first row.
    result_set_ref query(const std::string& _statement);
    // The text quoted for use between single quotes in a statement, following
    // the session's character set and SQL mode.
    std::string escape(std::string_view _text);

    const account_ref& account() const { return m_account; }
    const std::string& schema() const { return m_schema; }
    const std::string& charset() const { return m_charset; }

private:
    [[noreturn]] void report_and_throw(const char* _operation, int _line);
    [[noreturn]] void report_and_throw(u32 _error_no, const std::string& _error, const char* _operation,
                                       int _line);
    void free_pending_results(int _line);

    st_mysql* m_mysql = nullptr;
    bool m_auto_commit = true;
    std::string m_schema;
    std::string m_charset;
    account_ref m_account;
};

}  // namespace mariadb
