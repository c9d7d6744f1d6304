#include "store/raw_window_tail.hpp"

#include <algorithm>
#include <utility>

namespace zav {

namespace {

// The first row of _rows (in time order) later than _t.
positions_vector::const_iterator first_after(const positions_vector& _rows, timestamp _t)
{
    return std::partition_point(_rows.begin(), _rows.end(), [&](const position& _p) { return _p.ts <= _t; });
}

}  // namespace

raw_window_tail::reusable_rows raw_window_tail::take(timestamp _from, timestamp _until)
{
    auto kept = std::exchange(m_kept, boost::none);
    if (!kept || kept->after > _from || _from >= kept->until || kept->until > _until) return {{}, _from};
    kept->rows.erase(kept->rows.begin(), first_after(kept->rows, _from));
    return {std::move(kept->rows), kept->until};
}

void raw_window_tail::keep(timestamp _from, timestamp _until, const positions_vector& _rows,
                           std::chrono::milliseconds _span)
{
    const timestamp after = std::max(_from, _until - _span);
    m_kept = range{after, _until, positions_vector(first_after(_rows, after), _rows.end())};
}

}  // namespace zav
