#include "store/start_up_failure.hpp"

#include "store/store_error.hpp"

#include "core/exception.hpp"

#include "mariadb++/exceptions.hpp"

#include <errmsg.h>
#include <mysqld_error.h>

namespace zav {

std::optional<std::string> unmendable_cause(std::uint32_t _error_number)
{
    switch (_error_number) {
        case ER_ACCESS_DENIED_ERROR:
        case ER_ACCESS_DENIED_NO_PASSWORD_ERROR:
            // The server says the same when the account must use TLS.
            return "the database refused the account (wrong user or password, a host the account does "
                   "not cover, or an account that requires TLS without dw.tls)";
        case ER_ACCOUNT_HAS_BEEN_LOCKED:
            return "the database account is locked";
        case ER_DBACCESS_DENIED_ERROR:
            return "the account has no right on the database";
        case ER_BAD_DB_ERROR:
            return "the database does not exist";
        case ER_NO_SUCH_TABLE:
            return "a table is missing (sql/schema.sql creates them)";
        case ER_BAD_FIELD_ERROR:
            return "a column is missing (sql/schema.sql gives the tables)";
        case ER_TABLEACCESS_DENIED_ERROR:
        case ER_COLUMNACCESS_DENIED_ERROR:
            return "the account lacks a right the daemon needs, or the table does not exist";
        case CR_SSL_CONNECTION_ERROR:
            return "TLS failed (the server's certificate or host name does not verify against "
                   "dw.tls.ca_file, the client certificate or key is unusable, or the server has no "
                   "TLS)";
        default:
            return std::nullopt;
    }
}

std::uint32_t current_error_number()
{
    try {
        throw;
    } catch (const store_error& e) {
        return e.error_number();
    } catch (const mariadb::exception::base& e) {
        return e.error_id();
    } catch (...) {
        return 0;
    }
}

std::string current_error_text()
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
    std::string line;
    for (const char c : text) line += c == '\n' ? std::string("; ") : std::string(1, c);
    return line;
}

}  // namespace zav
