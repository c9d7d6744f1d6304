#pragma once

#include "core/exception.hpp"

namespace zav {

// The persistent state and the database contradict each other (for example
// positions was changed by another writer in the middle of a write). No
// retry can mend it and any guess could lose or duplicate rows, so the
// daemon stops and an operator decides.
class inconsistent_state_error : public libs::core::exception
{
public:
    using libs::core::exception::exception;
};

}  // namespace zav
