#pragma once

#include "core/exception.hpp"
#include "core/source_location.hpp"

#include <cstdint>
#include <string>

namespace zav {

// What a failure of the store means to its caller, decided from the server's
// or client library's error number, never from the words of its text.
enum class store_failure {
    // The session is gone (server down, network cut, connection killed): the
    // next statement connects anew, and waiting is all that helps.
    session_lost,
    // The node answers but does not serve (a Galera node outside the
    // primary component): another node may.
    node_unusable,
    // The server refused one statement (privileges, syntax, a constraint, a
    // lock wait): the session stays usable.
    refused,
    // The persistent state and the database contradict each other; no retry
    // can mend it (see inconsistent_state_error).
    inconsistent_state,
};

// The kind of failure a MariaDB error number stands for.
store_failure classify_database_error(std::uint32_t _error_number);

// A failure of the position store: a located exception that keeps its kind
// and the server's error number (0 when the store itself failed) on the way
// up.
class store_error : public libs::core::exception
{
public:
    store_error(store_failure _kind, std::string _message, libs::core::source_location _where,
                std::uint32_t _error_number = 0);

    store_failure kind() const noexcept { return m_kind; }
    std::uint32_t error_number() const noexcept { return m_error_number; }

private:
    store_failure m_kind;
    std::uint32_t m_error_number;
};

// The kind of the exception being handled: that of a store_error, else
// refused (the store's own and every other failure). Call it inside a catch
// handler only.
store_failure current_failure_kind();

}  // namespace zav
