#include "mariadb++/connection.hpp"

#include "mariadb++/exceptions.hpp"

#include <errmsg.h>
#include <mysql.h>
#include <mysqld_error.h>

#include <iostream>
#include <sstream>

namespace mariadb {

namespace {

// Bounds the wait for an unreachable host; refused connections fail at once.
constexpr unsigned int connect_timeout_seconds = 10;

// Errors after which the session is gone and only a new one helps.
bool means_lost_session(unsigned _error_no)
{
    switch (_error_no) {
        case CR_SERVER_GONE_ERROR:
        case CR_SERVER_LOST:
        case CR_SERVER_LOST_EXTENDED:
        case CR_CONNECTION_ERROR:
        case CR_CONN_HOST_ERROR:
        case ER_CONNECTION_KILLED:
        case ER_SERVER_SHUTDOWN:
        case 4031:  // ER_CLIENT_INTERACTION_TIMEOUT (idle session closed)
            return true;
        default:
            return false;
    }
}

}  // namespace

connection_ref connection::create(const account_ref& _account)
{
    return std::make_shared<connection>(private_tag{}, _account);
}

connection::connection(private_tag, const account_ref& _account) : m_account(_account) {}

connection::~connection()
{
    close_statement();
    if (m_mysql != nullptr) {
        mysql_close(m_mysql);
        mysql_thread_end();
    }
}

bool connection::connect()
{
    if (m_mysql != nullptr) return true;

    m_mysql = mysql_init(nullptr);
    if (m_mysql == nullptr) report_and_throw(0, "Cannot create MYSQL object.", "connect", __LINE__);
    // A failed connect clears the handle's options, so they are set before
    // every attempt.
    unsigned int timeout = connect_timeout_seconds;
    mysql_options(m_mysql, MYSQL_OPT_CONNECT_TIMEOUT, &timeout);

    const auto& acc = *m_account;
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
        mysql_close(m_mysql);
        m_mysql = nullptr;
        report_and_throw(error_no, error, failed_step, failed_line);
    }
    return true;
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
    const bool may_repeat = m_mysql != nullptr && !m_in_transaction;
    try {
        return query_once(_statement);
    } catch (const exception::connection& e) {
        // A session that died while idle is found only by the statement that
        // uses it; a query is read-only, so it is sent again on a new one.
        if (!may_repeat || m_mysql != nullptr || !means_lost_session(e.error_id())) throw;
    }
    return query_once(_statement);
}

result_set_ref connection::query_once(const std::string& _statement)
{
    connect();
    if (mysql_real_query(m_mysql, _statement.data(), _statement.size()) != 0)
        report_and_throw("query", __LINE__);

    bool store = m_account->store_result();
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
    // Whatever the outcome, the transaction is over: committed, or rolled
    // back by the server with the lost session.
    m_in_transaction = false;
    execute("COMMIT");
}

void connection::rollback()
{
    m_in_transaction = false;
    if (m_mysql != nullptr) execute("ROLLBACK");
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
    if (m_statement == nullptr || m_statement_text != _statement) {
        close_statement();
        m_statement = mysql_stmt_init(m_mysql);
        if (m_statement == nullptr) report_and_throw("execute_bulk", __LINE__);
        if (mysql_stmt_prepare(m_statement, _statement.data(), _statement.size()) != 0)
            report_statement_and_throw(__LINE__);
        m_statement_text = _statement;
    }
    if (mysql_stmt_param_count(m_statement) != _rows.columns().size())
        report_and_throw(0, "execute_bulk: parameter count differs from the bound columns", "execute_bulk",
                         __LINE__);

    auto rows = static_cast<unsigned int>(_rows.size());
    if (rows == 0) return 0;
    const auto& columns = _rows.data();
    std::vector<MYSQL_BIND> binds(columns.size());
    // Column-wise array binding takes variable-size types (strings and also
    // the date types) as arrays of pointers to the values, and fixed-size
    // numbers as arrays of the values.
    std::vector<std::vector<MYSQL_TIME>> times(columns.size());
    std::vector<std::vector<MYSQL_TIME*>> time_pointers(columns.size());
    for (std::size_t c = 0; c < columns.size(); ++c) {
        MYSQL_BIND& b = binds[c];
        const auto& column = columns[c];
        b.u.indicator = const_cast<char*>(column.indicators.data());
        switch (_rows.columns()[c]) {
            case bulk_rows::kind::integer:
                b.buffer_type = MYSQL_TYPE_LONGLONG;
                b.buffer = const_cast<long long*>(column.integers.data());
                break;
            case bulk_rows::kind::text:
                b.buffer_type = MYSQL_TYPE_STRING;
                b.buffer = const_cast<const char**>(column.texts.data());
                b.length = const_cast<unsigned long*>(column.lengths.data());
                break;
            case bulk_rows::kind::date_time: {
                auto& t = times[c];
                t.resize(column.date_times.size());
                for (std::size_t r = 0; r < t.size(); ++r) {
                    const auto& v = column.date_times[r];
                    t[r] = MYSQL_TIME{};
                    t[r].year = v.year;
                    t[r].month = v.month;
                    t[r].day = v.day;
                    t[r].hour = v.hour;
                    t[r].minute = v.minute;
                    t[r].second = v.second;
                    t[r].second_part = v.microsecond;
                    t[r].time_type = MYSQL_TIMESTAMP_DATETIME;
                }
                auto& pointers = time_pointers[c];
                for (auto& time : t) pointers.push_back(&time);
                b.buffer_type = MYSQL_TYPE_DATETIME;
                b.buffer = pointers.data();
                break;
            }
        }
    }
    if (mysql_stmt_attr_set(m_statement, STMT_ATTR_ARRAY_SIZE, &rows) != 0)
        report_statement_and_throw(__LINE__);
    if (mysql_stmt_bind_param(m_statement, binds.data()) != 0) report_statement_and_throw(__LINE__);
    if (mysql_stmt_execute(m_statement) != 0) report_statement_and_throw(__LINE__);
    return mysql_stmt_affected_rows(m_statement);
}

void connection::close_statement()
{
    if (m_statement != nullptr) mysql_stmt_close(m_statement);
    m_statement = nullptr;
    m_statement_text.clear();
}

void connection::report_statement_and_throw(int _line)
{
    const u32 error_no = mysql_stmt_errno(m_statement);
    const std::string error = mysql_stmt_error(m_statement);
    // A statement that failed to prepare or execute is prepared again next
    // time; its handle may belong to a session that is gone.
    close_statement();
    report_and_throw(error_no, error, "execute_bulk", _line);
}

void connection::forget_lost_session(unsigned _error_no)
{
    if (!means_lost_session(_error_no) || m_mysql == nullptr) return;
    close_statement();
    mysql_close(m_mysql);
    m_mysql = nullptr;
    m_in_transaction = false;
}

void connection::report_and_throw(const char* _operation, int _line)
{
    report_and_throw(mysql_errno(m_mysql), mysql_error(m_mysql), _operation, _line);
}

void connection::report_and_throw(u32 _error_no, const std::string& _error, const char* _operation, int _line)
{
    set_last_error(_error_no, _error);
    std::ostringstream report;
    report << "MariaDB Error(" << _error_no << "): " << _error << "\nIn function: " << _operation
           << "\nIn file " << __FILE__ << "\nOn line " << _line << "\n";
    std::cerr << report.str() << std::flush;
    forget_lost_session(_error_no);
    throw exception::connection(_error_no, _error);
}

}  // namespace mariadb
