#pragma once

#include "store/store_error.hpp"

#include <string>
#include <utility>

namespace zav {

// The persistent state and the database contradict each other (for example
// positions was changed by another writer in the middle of a write). No
// retry can mend it and any guess could lose or duplicate rows, so the
// daemon stops and an operator decides.
class inconsistent_state_error : public store_error
{
public:
    inconsistent_state_error(std::string _message, libs::core::source_location _where)
        : store_error(store_failure::inconsistent_state, std::move(_message), std::move(_where))
    {
    }
};

}  // namespace zav
