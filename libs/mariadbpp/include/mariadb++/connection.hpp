#pragma once

#include "mariadb++/account.hpp"
#include "mariadb++/binary_row.hpp"
#include "mariadb++/bulk_rows.hpp"
#include "mariadb++/last_error.hpp"
#include "mariadb++/result_set.hpp"
#include "mariadb++/types.hpp"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct st_mysql;
struct st_mysql_stmt;

namespace mariadb {

class connection;
using connection_ref = std::shared_ptr<connection>;

// One connection to a server, or to the first reachable of several servers
// that hold the same data (the nodes of a cluster). It connects lazily: every
// operation first calls connect(), which opens a session when there is none,
// trying the accounts in order, and restores the schema and character set.
// There is no ping before a statement: a call that fails because the session
// or its node is gone (see session_is_lost) drops the session, so the next
// operation opens a new one. A query outside a transaction is sent once more
// on the new session, since reading twice changes nothing; statements that
// change data are never repeated.
//
// Inside a transaction (begin() until commit() or rollback()) a lost session
// is never replaced silently: the statements after it would run outside the
// transaction. Every operation, commit() included, then throws until
// rollback() ends the transaction.
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
    // Called after every new session, before the operation that needed it,
    // with the connection ready for statements. Throwing rejects the server:
    // connect() closes the session and tries the next account.
    using session_setup = std::function<void(connection&)>;

    // Stores the account; touches no server.
    static connection_ref create(const account_ref& _account);
    // Several accounts, tried in this order on every (re)connect; not empty.
    static connection_ref create(std::vector<account_ref> _accounts);

    connection(private_tag, std::vector<account_ref> _accounts);
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
    // Prepares _statement (kept prepared, per text, until the session ends)
    // and executes it once with all of _rows bound as parameter arrays.
    // Needs supports_bulk(). Returns the affected rows.
    u64 execute_bulk(const std::string& _statement, const bulk_rows& _rows);
    // Runs one SELECT as a prepared statement (kept like execute_bulk's),
    // its parameters bound from the single row of _parameters, and hands
    // every result row to _row in the server's order. Rows are streamed, not
    // stored: the connection runs nothing else meanwhile, and a row is valid
    // only during its call. When _row throws, the remaining rows are
    // discarded and the exception passes on. Returns the number of rows.
    // Like query(), it is sent once more on a new session when the session
    // turns out lost before any row was handed over.
    u64 query_prepared(const std::string& _statement, const bulk_rows& _parameters,
                       const std::function<void(const binary_row&)>& _row);
    // Whether the server executes a prepared statement for an array of
    // parameter rows at once (MariaDB 10.2 and later). Connects.
    bool supports_bulk();
    // The text quoted for use between single quotes in a statement, following
    // the session's character set and SQL mode.
    std::string escape(std::string_view _text);

    // Runs on every later session; see session_setup.
    void set_session_setup(session_setup _setup) { m_session_setup = std::move(_setup); }

    // BEGIN, COMMIT and ROLLBACK. rollback() never throws: with
    // the session lost the server has rolled back already.
    void begin();
    void commit();
    void rollback() noexcept;
    // BEGIN and then _then (statements that return no rows) in one round
    // trip; returns the affected rows of _then. The transaction counts as
    // open from the moment BEGIN is sent: when this throws, rollback() ends
    // whatever the server left open.
    u64 begin_with(std::string_view _then);
    bool in_transaction() const { return m_in_transaction; }

    // The account of the current or last session.
    const account_ref& account() const { return m_accounts[m_current]; }
    const std::string& schema() const { return m_schema; }
    const std::string& charset() const { return m_charset; }
    // The TLS cipher of the current session; empty when it is not encrypted
    // or there is no session.
    std::string tls_cipher() const;

private:
    [[noreturn]] void report_and_throw(const char* _operation, int _line);
    [[noreturn]] void report_and_throw(u32 _error_no, const std::string& _error, const char* _operation,
                                       int _line);
    void free_pending_results(int _line);
    result_set_ref query_once(const std::string& _statement);
    // The statement of _text prepared on this session; throws on failure.
    st_mysql_stmt* prepared(const std::string& _text, const char* _operation);
    u64 query_prepared_once(const std::string& _statement, const bulk_rows& _parameters,
                            const std::function<void(const binary_row&)>& _row, bool& _handed);
    void close_statements() noexcept;
    // Reports the statement's error; the statement is closed, so that it is
    // prepared again next time (its handle may belong to a session that is
    // gone).
    [[noreturn]] void report_statement_and_throw(st_mysql_stmt* _statement, const char* _operation,
                                                 int _line);
    // One attempt to open a session with _account; throws on failure.
    void open_session(const account_ref& _account);
    void close_session() noexcept;

    st_mysql* m_mysql = nullptr;
    // The prepared statements of this session by their text. They die with
    // the session, so they are closed with it and prepared anew after a
    // reconnect.
    std::map<std::string, st_mysql_stmt*, std::less<>> m_statements;
    bool m_auto_commit = true;
    std::string m_schema;
    std::string m_charset;
    std::vector<account_ref> m_accounts;
    std::size_t m_current = 0;
    session_setup m_session_setup;
    bool m_in_setup = false;
    bool m_in_transaction = false;
};

// True for errors after which the session cannot go on: the connection to
// the server is lost, the server shuts down or killed the session, or a
// cluster node is not part of the primary component and refuses statements.
bool session_is_lost(u32 _error_no);

}  // namespace mariadb
