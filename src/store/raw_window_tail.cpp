#include "store/raw_window_tail.hpp"

#include <algorithm>

namespace zav {

namespace {

// The first row of _rows (in time order) later than _t.
positions_vector::const_iterator first_after(const positions_vector& _rows, timestamp _t)
{
    return std::partition_point(_rows.begin(), _rows.end(), [&](const position& _p) { return _p.ts <= _t; });
}

}  // namespace

raw_window_tail::reusable_rows raw_window_tail::reuse(timestamp _from, timestamp _until) const
{
    if (!m_kept || m_kept->after > _from || _from >= m_kept->until || m_kept->until > _until)
        return {{}, _from};
    return {positions_vector(first_after(m_kept->rows, _from), m_kept->rows.end()), m_kept->until};
}

void raw_window_tail::keep(timestamp _from, timestamp _until, const positions_vector& _rows,
                           std::chrono::milliseconds _span)
{
    const timestamp after = std::max(_from, _until - _span);
    m_kept = range{after, _until, positions_vector(first_after(_rows, after), _rows.end())};
}

}  // namespace zav
