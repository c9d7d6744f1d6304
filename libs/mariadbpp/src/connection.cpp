#include "mariadb++/connection.hpp"

#include "mariadb++/exceptions.hpp"

#include <mysql.h>

#include <iostream>
#include <sstream>

namespace mariadb {

namespace {

// Bounds the wait for an unreachable host; refused connections fail at once.
constexpr unsigned int connect_timeout_seconds = 10;

}  // namespace

connection_ref connection::create(const account_ref& _account)
{
    return std::make_shared<connection>(private_tag{}, _account);
}

connection::connection(private_tag, const account_ref& _account) : m_account(_account) {}

connection::~connection()
{
    if (m_mysql != nullptr) {
        mysql_close(m_mysql);
        mysql_thread_end();
    }
}

bool connection::connect()
{
    if (m_mysql != nullptr && mysql_ping(m_mysql) == 0) return true;

    if (m_mysql == nullptr) {
        m_mysql = mysql_init(nullptr);
        if (m_mysql == nullptr) report_and_throw(0, "Cannot create MYSQL object.", "connect", __LINE__);
    }
    // A failed connect clears the handle's options, so they are set before
    // every attempt.
    unsigned int timeout = connect_timeout_seconds;
    mysql_options(m_mysql, MYSQL_OPT_CONNECT_TIMEOUT, &timeout);

    const auto& acc = *m_account;
    const char* socket = acc.unix_socket().empty() ? nullptr : acc.unix_socket().c_str();
    if (mysql_real_connect(m_mysql, acc.host_name().c_str(), acc.user_name().c_str(), acc.password().c_str(),
                           nullptr, acc.port(), socket, CLIENT_MULTI_STATEMENTS) == nullptr)
        report_and_throw("connect", __LINE__);

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
    throw exception::connection(_error_no, _error);
}

}  // namespace mariadb
