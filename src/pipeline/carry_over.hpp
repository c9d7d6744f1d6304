#pragma once

#include "position.hpp"

#include <vector>

namespace zav {

// Keeps of a carry-over list the positions at _oldest_kept or later, in their
// order. A list in time order loses a prefix, found from the front, so that
// trimming costs what it removes; any other list is filtered whole.
template <class List>
void keep_from(List& _list, bool _in_time_order, timestamp _oldest_kept)
{
    if (_in_time_order) {
        auto end = _list.begin();
        while (end != _list.end() && end->ts < _oldest_kept) ++end;
        _list.erase(_list.begin(), end);
    } else {
        std::erase_if(_list, [&](const position& _p) { return _p.ts < _oldest_kept; });
    }
}

}  // namespace zav
