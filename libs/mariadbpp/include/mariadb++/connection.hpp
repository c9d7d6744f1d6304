#pragma once

#include "mariadb++/account.hpp"
#include "mariadb++/bulk_rows.hpp"
#include "mariadb++/last_error.hpp"
#include "mariadb++/result_set.hpp"
#include "mariadb++/types.hpp"

#include <memory>
#include <string>
#include <string_view>

struct st_mysql;
struct st_mysql_stmt;

namespace mariadb {

class connection;
using connection_ref = std::shared_ptr<connection>;

// One connection to a server. It connects lazily: every operation first
// calls connect(), which opens a session when there is none and restores the
// schema and character set. There is no ping before a statement: a call that
// fails because the session is gone (the server restarted, the network
// dropped, an idle timeout) drops the session, so the next operation opens a
// new one. A query outside a transaction is sent once more on the new session,
// since reading twice changes nothing; statements that change data are never
// repeated.
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
    // Prepares _statement (kept prepared for the next call with the same text
    // on the same session) and executes it once with all of _rows bound as
    // parameter arrays. Needs supports_bulk(). Returns the affected rows.
    u64 execute_bulk(const std::string& _statement, const bulk_rows& _rows);
    // Whether the server executes a prepared statement for an array of
    // parameter rows at once (MariaDB 10.2 and later). Connects.
    bool supports_bulk();
    // Transactions of statements sent by this object. A session lost inside
    // one ends it: the server has rolled it back.
    void begin();
    void commit();
    void rollback();
    bool in_transaction() const { return m_in_transaction; }

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
    // Drops the session after a failure that means it is gone.
    void forget_lost_session(unsigned _error_no);
    result_set_ref query_once(const std::string& _statement);
    void close_statement();
    [[noreturn]] void report_statement_and_throw(int _line);

    st_mysql* m_mysql = nullptr;
    bool m_in_transaction = false;
    // The prepared statement of execute_bulk and its text.
    st_mysql_stmt* m_statement = nullptr;
    std::string m_statement_text;
    bool m_auto_commit = true;
    std::string m_schema;
    std::string m_charset;
    account_ref m_account;
};

}  // namespace mariadb
