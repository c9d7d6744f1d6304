#pragma once

// The post-processing pipeline written as plainly as its definition words it:
// every scan walks the whole sequence index by index, skipping other objects'
// samples. Quadratic in the piece length, so only a reference for checking the
// fast pipeline and for measuring it against.
//
// Differences from the definition, shared with the fast pipeline: sorts are
// stable (one of the orders an unstable sort may give, so that both versions
// see equal-time samples in the same order), and the carry-over keeps the
// positions within 10 000 ms of the newest one processed instead of
// binary-searching for them, which is the same for time-ordered lists.

#include "positions_post_processor.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <stdexcept>

namespace zav::test::literal {

using ppp = positions_post_processor;
using positions = ppp::positions;

inline bool has_x_and_y(const position& _p) { return _p.x && _p.y; }

inline int median_filter(std::vector<int> _values)
{
    std::sort(_values.begin(), _values.end());
    const std::size_t n = _values.size();
    if (n % 2 == 1) return _values[n / 2];
    return static_cast<int>(
        std::lround(0.5 * static_cast<double>(std::int64_t{_values[n / 2 - 1]} + _values[n / 2])));
}

inline positions filter_positions(positions _to_process, const positions& _for_filter, std::size_t _added)
{
    for (std::size_t k = 0; k < _to_process.size(); ++k) {
        position& current = _to_process[k];
        if (!has_x_and_y(current)) continue;
        std::vector<int> xs{*current.x};
        std::vector<int> ys{*current.y};
        const std::size_t self = _added + k;
        // Returns false when the scan stops.
        const auto visit = [&](std::size_t _j) {
            const position& candidate = _for_filter[_j];
            if (candidate.trackable_uid != current.trackable_uid || !has_x_and_y(candidate)) return true;
            if (ppp::delta_ms(current, candidate) > std::chrono::milliseconds(1000)) return false;
            xs.push_back(*candidate.x);
            ys.push_back(*candidate.y);
            return true;
        };
        for (std::size_t j = self; j-- > 0;)
            if (!visit(j)) break;
        for (std::size_t j = self + 1; j < _for_filter.size(); ++j)
            if (!visit(j)) break;
        current.x = median_filter(xs);
        current.y = median_filter(ys);
    }
    return _to_process;
}

inline positions interpolate_positions(positions _to_process, const positions& _for_interpolation)
{
    if (_for_interpolation.size() < _to_process.size())
        throw std::invalid_argument(
            "interpolate_positions: fewer positions for interpolation than to process");
    const std::size_t offset = _for_interpolation.size() - _to_process.size();
    positions new_positions;
    for (std::size_t i = 0; i < _to_process.size(); ++i) {
        const position& current = _to_process[i];
        if (!has_x_and_y(current)) continue;
        const position* prev = nullptr;
        for (std::size_t j = offset + i; j-- > 0;) {
            const position& candidate = _for_interpolation[j];
            if (has_x_and_y(candidate) && candidate.trackable_uid == current.trackable_uid) {
                prev = &candidate;
                break;
            }
        }
        if (!prev) continue;
        const auto delta = ppp::delta_ms(*prev, current);
        if (delta <= std::chrono::milliseconds(1000) || delta > std::chrono::milliseconds(5000)) continue;
        const long long ts_delta = ppp::delta_s(*prev, current).count();
        if (ts_delta < 2) continue;
        for (long long k = 1; k < ts_delta; ++k) {
            position p = *prev;
            p.ts = prev->ts + std::chrono::milliseconds(k * 1000);
            const auto step = [&](int _from, int _to) {
                const double product = static_cast<double>(k * (std::int64_t{_to} - _from));
                return _from + static_cast<int>(std::lround(product / static_cast<double>(ts_delta)));
            };
            p.x = step(*prev->x, *current.x);
            p.y = step(*prev->y, *current.y);
            new_positions.push_back(std::move(p));
        }
    }
    new_positions.insert(new_positions.end(), _to_process.begin(), _to_process.end());
    std::stable_sort(new_positions.begin(), new_positions.end(), ppp::timestamp_less);
    return new_positions;
}

// The positions at most 10 000 ms before the newest of _processed, the
// positions this call processed; all of them when it processed none.
inline positions trimmed(positions _positions, const positions& _processed)
{
    if (_processed.empty()) return _positions;
    const timestamp newest = std::max_element(_processed.begin(), _processed.end(), ppp::timestamp_less)->ts;
    std::erase_if(_positions,
                  [&](const position& _p) { return _p.ts < newest - std::chrono::milliseconds(10000); });
    return _positions;
}

inline positions concatenated(positions _first, const positions& _second)
{
    _first.insert(_first.end(), _second.begin(), _second.end());
    return _first;
}

// The carry-over holds what was processed so far, by this call and earlier
// ones, at most 10 s before the newest position this call processed.
inline ppp::post_processing_result process_positions(const ppp::additional_data& _context, positions _piece)
{
    if (_piece.empty()) throw std::invalid_argument("process_positions: empty piece");
    std::stable_sort(_piece.begin(), _piece.end(), ppp::timestamp_less);
    const positions for_filter = concatenated(_context.processed_positions, _piece);
    const timestamp last = _piece.back().ts;
    const auto first_held_back =
        std::lower_bound(_piece.begin(), _piece.end(), last - std::chrono::milliseconds(10000),
                         [](const position& _p, const timestamp& _t) { return _p.ts < _t; });
    const positions older(_piece.begin(), first_held_back);
    positions held_back(first_held_back, _piece.end());

    const positions filtered = filter_positions(older, for_filter, _context.processed_positions.size());
    const positions for_interpolation = concatenated(_context.processed_filtered_positions, filtered);

    ppp::post_processing_result result;
    result.processed_positions = interpolate_positions(filtered, for_interpolation);
    result.additional_data_.not_processed_positions = std::move(held_back);
    result.additional_data_.processed_positions =
        trimmed(concatenated(_context.processed_positions, older), older);
    result.additional_data_.processed_filtered_positions = trimmed(for_interpolation, older);
    return result;
}

}  // namespace zav::test::literal
