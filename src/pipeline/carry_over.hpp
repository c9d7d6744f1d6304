#pragma once

#include "pipeline/position_record.hpp"
#include "position.hpp"

#include <algorithm>
#include <cstdint>

namespace zav {

inline std::int64_t time_of(const position& _p) { return _p.ts.get_time_since_epoch().count(); }
inline std::int64_t time_of(const position_record& _r) { return _r.ts; }

// Keeps of a carry-over list the records at _oldest_kept (milliseconds since
// the epoch) or later, in their order. A list in time order loses a prefix,
// found from the front, so that trimming costs what it removes; any other
// list is filtered whole.
template <class List>
void keep_from(List& _list, bool _in_time_order, std::int64_t _oldest_kept)
{
    if (_in_time_order) {
        auto end = _list.begin();
        while (end != _list.end() && time_of(*end) < _oldest_kept) ++end;
        _list.erase(_list.begin(), end);
    } else {
        std::erase_if(_list, [&](const auto& _r) { return time_of(_r) < _oldest_kept; });
    }
}

}  // namespace zav
