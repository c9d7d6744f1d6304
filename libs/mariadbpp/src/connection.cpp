#include "mariadb++/connection.hpp"

#include "mariadb++/exceptions.hpp"

#include "client_thread.hpp"
#include "parameter_binds.hpp"

#include <errmsg.h>
#include <mysql.h>
#include <mysqld_error.h>

#include <iostream>
#include <sstream>

namespace mariadb {

namespace {

// Bounds the wait for an unreachable host; refused connections fail at once.
constexpr unsigned int connect_timeout_seconds = 10;
// Bounds one read or write on an established session. Long enough for the
// largest statement the store sends (a window's SELECT, a piece's INSERT).
constexpr unsigned int io_timeout_seconds = 120;

// Server errors that end a session (mysqld_error.h).
constexpr u32 er_unknown_com_error = 1047;  // a Galera node outside the primary component
constexpr u32 er_server_shutdown = 1053;
constexpr u32 er_connection_killed = 1927;
constexpr u32 er_client_interaction_timeout = 4031;  // an idle session closed by the server

// The reporting file as the error report names it: its path within the
// project, never the build machine's.
constexpr const char* report_file = "libs/mariadbpp/src/connection.cpp";

// Asks for TLS as _tls says. Encryption is enforced, so that a server
// without TLS fails the connect instead of being spoken to in plain text.
void set_tls_options(MYSQL* _mysql, const tls_settings& _tls)
{
    const my_bool on = 1;
    const my_bool verify = _tls.verify_server_certificate ? 1 : 0;
    mysql_options(_mysql, MYSQL_OPT_SSL_ENFORCE, &on);
    mysql_options(_mysql, MYSQL_OPT_SSL_CA, _tls.ca_file.c_str());
    if (!_tls.cert_file.empty()) mysql_options(_mysql, MYSQL_OPT_SSL_CERT, _tls.cert_file.c_str());
    if (!_tls.key_file.empty()) mysql_options(_mysql, MYSQL_OPT_SSL_KEY, _tls.key_file.c_str());
    // Set either way: whether the client library verifies by default differs
    // between its versions. Verification covers the host name too.
    mysql_options(_mysql, MYSQL_OPT_SSL_VERIFY_SERVER_CERT, &verify);
}

}  // namespace

connection_ref connection::create(const account_ref& _account)
{
    return create(std::vector<account_ref>{_account});
}

connection_ref connection::create(std::vector<account_ref> _accounts)
{
    return std::make_shared<connection>(private_tag{}, std::move(_accounts));
}

connection::connection(private_tag, std::vector<account_ref> _accounts) : m_accounts(std::move(_accounts))
{
    if (m_accounts.empty()) throw exception::connection(0, "A connection needs at least one account.");
}

connection::~connection() { close_session(); }

void connection::close_session() noexcept
{
    if (m_mysql == nullptr && m_statements.empty()) return;
    try {
        // A connection may end on another thread than the one it ran on.
        enter_client_thread();
    } catch (const std::exception&) {
        // Closing frees the session all the same.
    }
    close_statements();
    if (m_mysql != nullptr) {
        mysql_close(m_mysql);
        m_mysql = nullptr;
    }
}

bool connection::connect()
{
    enter_client_thread();
    if (m_mysql != nullptr) return true;

    if (m_in_transaction) {
        // The server rolled the transaction back with the lost session; a new
        // session would run the rest of it as separate statements. Every
        // operation fails until the caller ends the transaction.
        report_and_throw(CR_SERVER_LOST, "Lost connection to the server inside a transaction", "connect",
                         __LINE__);
    }
    if (m_in_setup) {
        // A session lost during its own set-up: the loop below tries the
        // next account instead of starting over inside itself.
        report_and_throw(CR_SERVER_LOST, "Lost connection to the server while setting up the session",
                         "connect", __LINE__);
    }

    // Every account in order, so that the first node of a list is used again
    // as soon as it is back; the last failure is the one thrown.
    for (std::size_t i = 0;; ++i) {
        try {
            m_current = i;
            open_session(m_accounts[i]);
            if (m_session_setup) {
                m_in_setup = true;
                try {
                    m_session_setup(*this);
                } catch (...) {
                    m_in_setup = false;
                    throw;
                }
                m_in_setup = false;
            }
            return true;
        } catch (const std::exception&) {
            close_session();
            if (i + 1 == m_accounts.size()) throw;
        }
    }
}

void connection::open_session(const account_ref& _account)
{
    m_mysql = mysql_init(nullptr);
    if (m_mysql == nullptr) report_and_throw(0, "Cannot create MYSQL object.", "connect", __LINE__);
    // A failed connect clears the handle's options, so they are set before
    // every attempt.
    unsigned int timeout = connect_timeout_seconds;
    mysql_options(m_mysql, MYSQL_OPT_CONNECT_TIMEOUT, &timeout);
    // A statement sent to a node that died without closing its sockets would
    // otherwise wait for TCP's own timeouts, many minutes.
    unsigned int io_timeout = io_timeout_seconds;
    mysql_options(m_mysql, MYSQL_OPT_READ_TIMEOUT, &io_timeout);
    mysql_options(m_mysql, MYSQL_OPT_WRITE_TIMEOUT, &io_timeout);

    const auto& acc = *_account;
    if (acc.tls()) set_tls_options(m_mysql, *acc.tls());
    const char* socket = acc.unix_socket().empty() ? nullptr : acc.unix_socket().c_str();
    if (mysql_real_connect(m_mysql, acc.host_name().c_str(), acc.user_name().c_str(), acc.password().c_str(),
                           nullptr, acc.port(), socket, CLIENT_MULTI_STATEMENTS) == nullptr) {
        // The handle is not reused after a failed attempt: a fresh one per
        // attempt keeps no half-set state.
        const u32 error_no = mysql_errno(m_mysql);
        const std::string error = mysql_error(m_mysql);
        mysql_close(m_mysql);
        m_mysql = nullptr;
        report_and_throw(error_no, error, "connect", __LINE__);
    }

    // A new session starts with the server's defaults: auto-commit on, no
    // schema, the client's default character set. The steps below restore the
    // session that this object stands for. Should one of them fail, the
    // session is dropped, so that the next connect() repeats all of them
    // instead of finding a half-prepared session that answers the ping.
    m_auto_commit = true;
    m_schema.clear();
    const char* failed_step = nullptr;
    int failed_line = 0;
    if (acc.auto_commit() != m_auto_commit) {
        if (mysql_autocommit(m_mysql, acc.auto_commit()) != 0) {
            failed_step = "set_auto_commit";
            failed_line = __LINE__;
        } else {
            m_auto_commit = acc.auto_commit();
        }
    }
    if (failed_step == nullptr && !acc.schema().empty()) {
        if (mysql_select_db(m_mysql, acc.schema().c_str()) != 0) {
            failed_step = "set_schema";
            failed_line = __LINE__;
        } else {
            m_schema = acc.schema();
        }
    }
    if (failed_step == nullptr && !m_charset.empty()) {
        if (mysql_set_character_set(m_mysql, m_charset.c_str()) != 0) {
            failed_step = "set_charset";
            failed_line = __LINE__;
        }
    }
    if (failed_step != nullptr) {
        u32 error_no = mysql_errno(m_mysql);
        std::string error = mysql_error(m_mysql);
        close_session();
        report_and_throw(error_no, error, failed_step, failed_line);
    }
}

bool connection::set_charset(const std::string& _name)
{
    connect();
    if (mysql_set_character_set(m_mysql, _name.c_str()) != 0) report_and_throw("set_charset", __LINE__);
    m_charset = _name;
    return true;
}

u64 connection::execute(const std::string& _statements)
{
    connect();
    // Sent once even when the session turns out to be lost: the statements
    // may have been applied before the answer was lost.
    if (mysql_real_query(m_mysql, _statements.data(), _statements.size()) != 0)
        report_and_throw("execute", __LINE__);

    u64 total = 0;
    for (;;) {
        MYSQL_RES* result = mysql_store_result(m_mysql);
        if (result != nullptr)
            mysql_free_result(result);
        else if (mysql_field_count(m_mysql) != 0)
            report_and_throw("execute", __LINE__);
        else
            total += mysql_affected_rows(m_mysql);

        int status = mysql_next_result(m_mysql);
        if (status > 0) report_and_throw("execute", __LINE__);
        if (status < 0) break;
    }
    return total;
}

result_set_ref connection::query(const std::string& _statement)
{
    const bool may_repeat = m_mysql != nullptr && !m_in_transaction && !m_in_setup;
    try {
        return query_once(_statement);
    } catch (const exception::connection& e) {
        // A session that died while idle is found only by the statement that
        // uses it; a query is read-only, so it is sent again on a new one.
        if (!may_repeat || m_mysql != nullptr || !session_is_lost(e.error_id())) throw;
    }
    return query_once(_statement);
}

result_set_ref connection::query_once(const std::string& _statement)
{
    connect();
    if (mysql_real_query(m_mysql, _statement.data(), _statement.size()) != 0)
        report_and_throw("query", __LINE__);

    bool store = account()->store_result();
    auto result = result_set::create(m_mysql, store);
    if (!result->has_result() && mysql_field_count(m_mysql) != 0) report_and_throw("query", __LINE__);
    // Results of further statements in the text would block every later
    // statement of this session ("commands out of sync"). A streamed result
    // must be read to its end first; its reader owns the session until then.
    if (store) free_pending_results(__LINE__);
    return result;
}

std::string connection::escape(std::string_view _text)
{
    // Escaping needs the session's character set but no round trip, so an
    // existing handle is used as it is.
    enter_client_thread();
    if (m_mysql == nullptr) connect();
    std::string escaped(_text.size() * 2 + 1, '\0');
    unsigned long length = mysql_real_escape_string(m_mysql, escaped.data(), _text.data(), _text.size());
    if (length == static_cast<unsigned long>(-1))
        report_and_throw(0, "Cannot escape string.", "escape", __LINE__);
    escaped.resize(length);
    return escaped;
}

void connection::free_pending_results(int _line)
{
    while (mysql_more_results(m_mysql)) {
        int status = mysql_next_result(m_mysql);
        if (status > 0) report_and_throw("query", _line);
        if (status < 0) break;
        if (MYSQL_RES* result = mysql_store_result(m_mysql)) mysql_free_result(result);
    }
}

void connection::begin()
{
    execute("BEGIN");
    m_in_transaction = true;
}

void connection::commit()
{
    // Sent while the transaction is still marked open, so that a session lost
    // before it fails here (connect() refuses) instead of committing nothing
    // on a new session and reporting success. Whatever COMMIT answers, the
    // transaction is over: committed, or rolled back by the server.
    try {
        execute("COMMIT");
    } catch (...) {
        m_in_transaction = false;
        throw;
    }
    m_in_transaction = false;
}

u64 connection::begin_with(std::string_view _then)
{
    // Connected first: once the transaction is marked open, a lost session
    // is no longer replaced.
    connect();
    m_in_transaction = true;
    std::string statements = "BEGIN;";
    statements += _then;
    return execute(statements);
}

void connection::rollback() noexcept
{
    const bool was_open = m_in_transaction;
    m_in_transaction = false;
    // With the session lost the server has rolled back already.
    if (!was_open || m_mysql == nullptr) return;
    try {
        enter_client_thread();
    } catch (const std::exception&) {
        close_session();
        return;
    }
    if (mysql_real_query(m_mysql, "ROLLBACK", 8) != 0) close_session();
}

bool connection::supports_bulk()
{
    connect();
    unsigned long capabilities = 0;
    if (mariadb_get_infov(m_mysql, MARIADB_CONNECTION_EXTENDED_SERVER_CAPABILITIES, &capabilities) != 0)
        return false;
    return (capabilities & (MARIADB_CLIENT_STMT_BULK_OPERATIONS >> 32)) != 0;
}

u64 connection::execute_bulk(const std::string& _statement, const bulk_rows& _rows)
{
    connect();
    st_mysql_stmt* statement = prepared(_statement, "execute_bulk");
    if (mysql_stmt_param_count(statement) != _rows.columns().size())
        report_and_throw(0, "execute_bulk: parameter count differs from the bound columns", "execute_bulk",
                         __LINE__);

    auto rows = static_cast<unsigned int>(_rows.size());
    if (rows == 0) return 0;
    parameter_binds binds(_rows, parameter_binds::rows::all_as_arrays);
    if (mysql_stmt_attr_set(statement, STMT_ATTR_ARRAY_SIZE, &rows) != 0)
        report_statement_and_throw(statement, "execute_bulk", __LINE__);
    if (mysql_stmt_bind_param(statement, binds.data()) != 0)
        report_statement_and_throw(statement, "execute_bulk", __LINE__);
    if (mysql_stmt_execute(statement) != 0) report_statement_and_throw(statement, "execute_bulk", __LINE__);
    return mysql_stmt_affected_rows(statement);
}

st_mysql_stmt* connection::prepared(const std::string& _text, const char* _operation)
{
    if (const auto found = m_statements.find(_text); found != m_statements.end()) return found->second;
    st_mysql_stmt* statement = mysql_stmt_init(m_mysql);
    if (statement == nullptr) report_and_throw(_operation, __LINE__);
    m_statements.emplace(_text, statement);
    if (mysql_stmt_prepare(statement, _text.data(), _text.size()) != 0)
        report_statement_and_throw(statement, _operation, __LINE__);
    return statement;
}

u64 connection::query_prepared(const std::string& _statement, const bulk_rows& _parameters,
                               const std::function<void(const binary_row&)>& _row)
{
    const bool may_repeat = m_mysql != nullptr && !m_in_transaction && !m_in_setup;
    bool handed = false;
    try {
        return query_prepared_once(_statement, _parameters, _row, handed);
    } catch (const exception::connection& e) {
        // As in query(): a session that died while idle is found by the
        // statement that uses it. Once rows were handed over, the caller
        // holds part of a result and must decide itself.
        if (!may_repeat || handed || m_mysql != nullptr || !session_is_lost(e.error_id())) throw;
    }
    return query_prepared_once(_statement, _parameters, _row, handed);
}

u64 connection::query_prepared_once(const std::string& _statement, const bulk_rows& _parameters,
                                    const std::function<void(const binary_row&)>& _row, bool& _handed)
{
    connect();
    st_mysql_stmt* statement = prepared(_statement, "query_prepared");
    if (_parameters.size() != 1 || mysql_stmt_param_count(statement) != _parameters.columns().size())
        report_and_throw(0, "query_prepared: parameters differ from the statement's", "query_prepared",
                         __LINE__);

    // One row, bound directly (no array binding, which a SELECT cannot use).
    parameter_binds binds(_parameters, parameter_binds::rows::first_only);
    if (mysql_stmt_bind_param(statement, binds.data()) != 0)
        report_statement_and_throw(statement, "query_prepared", __LINE__);
    if (mysql_stmt_execute(statement) != 0) report_statement_and_throw(statement, "query_prepared", __LINE__);

    // Bound after every execution: the server prepares the statement again
    // when a table changed, and its columns may differ.
    binary_row row;
    if (!row.bind(statement)) report_statement_and_throw(statement, "query_prepared", __LINE__);
    u64 count = 0;
    for (;;) {
        int status = mysql_stmt_fetch(statement);
        if (status == MYSQL_NO_DATA) break;
        if (status == MYSQL_DATA_TRUNCATED && !row.complete_truncated(statement)) status = 1;
        if (status == 1) report_statement_and_throw(statement, "query_prepared", __LINE__);
        _handed = true;
        try {
            _row(row);
        } catch (...) {
            // The rest of a streamed result must be read before the session
            // serves another statement.
            while ((status = mysql_stmt_fetch(statement)) == 0 || status == MYSQL_DATA_TRUNCATED) {
            }
            if (status == 1)
                close_session();
            else
                mysql_stmt_free_result(statement);
            throw;
        }
        ++count;
    }
    mysql_stmt_free_result(statement);
    return count;
}

void connection::close_statements() noexcept
{
    for (auto& [text, statement] : m_statements) mysql_stmt_close(statement);
    m_statements.clear();
}

void connection::report_statement_and_throw(st_mysql_stmt* _statement, const char* _operation, int _line)
{
    const u32 error_no = mysql_stmt_errno(_statement);
    const std::string error = mysql_stmt_error(_statement);
    for (auto it = m_statements.begin(); it != m_statements.end(); ++it)
        if (it->second == _statement) {
            m_statements.erase(it);
            break;
        }
    mysql_stmt_close(_statement);
    report_and_throw(error_no, error, _operation, _line);
}

void connection::report_and_throw(const char* _operation, int _line)
{
    report_and_throw(mysql_errno(m_mysql), mysql_error(m_mysql), _operation, _line);
}

void connection::report_and_throw(u32 _error_no, const std::string& _error, const char* _operation, int _line)
{
    set_last_error(_error_no, _error);
    // The next operation connects anew, to the first node that serves; a
    // transaction that was open is then reported as lost by connect().
    if (session_is_lost(_error_no)) close_session();
    std::ostringstream report;
    report << "MariaDB Error(" << _error_no << "): " << _error << "\nIn function: " << _operation
           << "\nIn file " << report_file << "\nOn line " << _line << "\n";
    std::cerr << report.str() << std::flush;
    throw exception::connection(_error_no, _error);
}

std::string connection::tls_cipher() const
{
    if (m_mysql == nullptr) return {};
    const char* cipher = mysql_get_ssl_cipher(m_mysql);
    return cipher == nullptr ? std::string() : std::string(cipher);
}

bool session_is_lost(u32 _error_no)
{
    switch (_error_no) {
        case CR_SERVER_GONE_ERROR:
        case CR_SERVER_LOST:
        case CR_SERVER_LOST_EXTENDED:
        case CR_CONN_HOST_ERROR:
        case CR_CONNECTION_ERROR:
        case er_client_interaction_timeout:
        case er_unknown_com_error:
        case er_server_shutdown:
        case er_connection_killed:
            return true;
        default:
            return false;
    }
}

}  // namespace mariadb
