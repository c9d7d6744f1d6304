#include "pipeline/time_order.hpp"

#include "core/exception.hpp"

#include <algorithm>
#include <cstdint>
#include <utility>

namespace zav {

using positions = positions_vector;

positions sorted_by_time(positions _positions)
{
    // Compared inline: a piece is checked position by position.
    const auto earlier = [](const position& _lhs, const position& _rhs) { return _lhs.ts < _rhs.ts; };
    if (std::is_sorted(_positions.begin(), _positions.end(), earlier)) return _positions;
    CORE_CHECK(std::in_range<std::uint32_t>(_positions.size()));
    std::vector<std::pair<std::int64_t, std::uint32_t>> order(_positions.size());
    for (std::size_t i = 0; i < _positions.size(); ++i)
        order[i] = {_positions[i].ts.get_time_since_epoch().count(), static_cast<std::uint32_t>(i)};
    std::sort(order.begin(), order.end());
    positions sorted;
    sorted.reserve(_positions.size());
    for (const auto& entry : order) sorted.push_back(std::move(_positions[entry.second]));
    return sorted;
}

}  // namespace zav
