#pragma once

#include <exception>
#include <new>
#include <string>

namespace zav {

// The text batch mode shows for an exception: what() names the cause, except
// for std::bad_alloc, whose what() ("std::bad_alloc") means nothing to a user.
inline std::string failure_text(const std::exception& _e)
{
    if (dynamic_cast<const std::bad_alloc*>(&_e) != nullptr) return "out of memory";
    return _e.what();
}

}  // namespace zav
