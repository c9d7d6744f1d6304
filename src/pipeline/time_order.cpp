#include "pipeline/time_order.hpp"

#include "core/exception.hpp"
#include "pipeline/carry_over.hpp"

#include <algorithm>
#include <cstdint>
#include <utility>

namespace zav {

namespace {

template <class List>
List sorted(List _positions)
{
    using item = typename List::value_type;
    // Compared inline: a piece is checked position by position.
    const auto earlier = [](const item& _lhs, const item& _rhs) { return _lhs.ts < _rhs.ts; };
    if (std::is_sorted(_positions.begin(), _positions.end(), earlier)) return _positions;
    CORE_CHECK(std::in_range<std::uint32_t>(_positions.size()));
    std::vector<std::pair<std::int64_t, std::uint32_t>> order(_positions.size());
    for (std::size_t i = 0; i < _positions.size(); ++i)
        order[i] = {time_of(_positions[i]), static_cast<std::uint32_t>(i)};
    std::sort(order.begin(), order.end());
    // Rearranged in place, cycle by cycle, so that the piece keeps its buffer
    // instead of a second one of the same size being allocated for every
    // piece with a late line.
    for (std::size_t start = 0; start < order.size(); ++start) {
        if (order[start].second == start) continue;
        item moving = std::move(_positions[start]);
        std::size_t to = start;
        for (;;) {
            const std::size_t from = order[to].second;
            order[to].second = static_cast<std::uint32_t>(to);
            if (from == start) break;
            _positions[to] = std::move(_positions[from]);
            to = from;
        }
        _positions[to] = std::move(moving);
    }
    return _positions;
}

}  // namespace

positions_vector sorted_by_time(positions_vector _positions) { return sorted(std::move(_positions)); }

std::vector<position_record> sorted_by_time(std::vector<position_record> _records)
{
    return sorted(std::move(_records));
}

}  // namespace zav
