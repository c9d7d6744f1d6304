#pragma once

#include "core/exception.hpp"
#include "core/source_location.hpp"

#include <exception>
#include <utility>

namespace zav {

// Runs _f and rethrows any std::exception escaping it as
// zav::libs::core::exception with the same text, located at _where (the
// store operation that ran _f). Exceptions that carry a location already
// pass unchanged.
template <typename F>
auto with_located_errors(const libs::core::source_location& _where, F&& _f) -> decltype(_f())
{
    try {
        return std::forward<F>(_f)();
    } catch (const libs::core::located_exception&) {
        throw;
    } catch (const std::exception& e) {
        throw libs::core::exception(e.what(), _where);
    }
}

}  // namespace zav
