#include "store/store_error.hpp"

#include "mariadb++/connection.hpp"

#include <mysqld_error.h>

#include <exception>
#include <utility>

namespace zav {

store_failure classify_database_error(std::uint32_t _error_number)
{
    // A Galera node that is not ready for application use answers every
    // statement with this; the connection layer drops its session so that
    // the next statement goes to the next node.
    if (_error_number == ER_UNKNOWN_COM_ERROR) return store_failure::node_unusable;
    if (mariadb::session_is_lost(_error_number)) return store_failure::session_lost;
    return store_failure::refused;
}

store_error::store_error(store_failure _kind, std::string _message, libs::core::source_location _where,
                         std::uint32_t _error_number)
    : libs::core::exception(std::move(_message), std::move(_where)),
      m_kind(_kind),
      m_error_number(_error_number)
{
}

store_failure current_failure_kind()
{
    try {
        throw;
    } catch (const store_error& e) {
        return e.kind();
    } catch (...) {
        return store_failure::refused;
    }
}

}  // namespace zav
