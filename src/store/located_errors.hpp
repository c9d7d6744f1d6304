#pragma once

#include "store/store_error.hpp"

#include "core/exception.hpp"
#include "core/source_location.hpp"

#include "mariadb++/exceptions.hpp"

#include <exception>
#include <utility>

namespace zav {

// Runs _f and rethrows any std::exception escaping it as store_error with the
// same text, located at _where (the store operation that ran _f): a failure
// of the MariaDB layer keeps its kind and error number, any other failure is
// a refusal. Exceptions that carry a location already pass unchanged.
template <typename F>
auto with_located_errors(const libs::core::source_location& _where, F&& _f) -> decltype(_f())
{
    try {
        return std::forward<F>(_f)();
    } catch (const libs::core::located_exception&) {
        throw;
    } catch (const mariadb::exception::base& e) {
        throw store_error(classify_database_error(e.error_id()), e.what(), _where, e.error_id());
    } catch (const std::exception& e) {
        throw store_error(store_failure::refused, e.what(), _where);
    }
}

}  // namespace zav
