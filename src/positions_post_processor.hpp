#pragma once

#include "pipeline/constants.hpp"
#include "position.hpp"

#include <boost/serialization/vector.hpp>

#include <chrono>
#include <cstddef>
#include <utility>
#include <vector>

namespace zav {

// Cleans a stream of raw positions delivered in consecutive pieces: orders
// each piece by time, holds back its newest 10 s, smooths x and y with a median
// over the same object's samples within 1 s, fills gaps of 1.5 to 5 s with
// synthetic positions at 1 s steps, and returns a carry-over context for the
// next piece. Stateless: everything it needs comes in as arguments.
class positions_post_processor
{
public:
    using positions = std::vector<position>;
    using filtered_positions = positions;
    using interpolated_positions = positions;

    // Carry-over from one piece to the next.
    struct additional_data
    {
        additional_data() = default;
        additional_data(const additional_data&) = default;
        additional_data(additional_data&&) = default;
        additional_data& operator=(const additional_data&) = default;
        additional_data& operator=(additional_data&&) = default;
        ~additional_data() = default;

        // The held-back part of the last piece, raw, in time order.
        positions not_processed_positions;
        // The raw versions of the positions processed so far, by the last call
        // and earlier ones, that lie at most 10 s before the newest position
        // the last call processed (not the newest ever processed: a position
        // dated far ahead must not take the look-back from later pieces), in
        // the order they were processed. A call that processes nothing passes
        // them on unchanged.
        positions processed_positions;
        // The same positions, element for element, with filtered x and y.
        filtered_positions processed_filtered_positions;

        template <class Archive>
        void serialize(Archive& _ar, const unsigned int)
        {
            _ar& not_processed_positions;
            _ar& processed_positions;
            _ar& processed_filtered_positions;
        }
    };

    struct post_processing_result
    {
        ~post_processing_result() = default;

        // Filtered plus synthetic positions, ascending by time.
        positions processed_positions;
        additional_data additional_data_;
    };

    // One piece: the previous call's held-back part followed by newly arrived
    // positions, in any order, not empty (check failure otherwise). The
    // output does not depend on how a time-ordered stream is cut into pieces.
    static post_processing_result process_positions(const additional_data& _additional_data,
                                                    positions _positions_to_process);

    // (older part, held-back part) of a time-ordered, non-empty piece.
    static std::pair<std::vector<position>, std::vector<position>> cut_positions(
        positions _positions_to_process);
    // Element k of _positions_to_process is element _added_positions + k of
    // _positions_for_filter; the median windows are taken from the latter.
    static filtered_positions filter_positions(positions _positions_to_process,
                                               positions _positions_for_filter, std::size_t _added_positions);
    // _positions_to_process are the last elements of _positions_for_interpolation;
    // returns them with the synthetic positions, ascending by time.
    static interpolated_positions interpolate_positions(
        filtered_positions _positions_to_process, const filtered_positions& _positions_for_interpolation);
    // Median of a non-empty list, halves of an even list's mean rounded away
    // from zero.
    static int median_filter(std::vector<int> _values);
    // Keeps of each processed list the positions at most 10 s before its newest.
    static additional_data make_additional_data(positions _not_processed_positions,
                                                positions _processed_positions,
                                                filtered_positions _processed_filtered_positions);
    // Absolute time difference, and the same rounded to whole seconds (halves up).
    static std::chrono::milliseconds delta_ms(const position& _lhs, const position& _rhs);
    static std::chrono::seconds delta_s(const position& _lhs, const position& _rhs);
    static bool timestamp_less(const position& _lhs, const position& _rhs);

    static constexpr auto hold_back_span = pipeline::hold_back_span;
    static constexpr auto median_half_width = pipeline::median_half_width;
    static constexpr auto shortest_gap = pipeline::shortest_gap;
    static constexpr auto longest_gap = pipeline::longest_gap;
    static constexpr auto smallest_filled_gap = pipeline::smallest_filled_gap;
    static constexpr auto interpolation_step = pipeline::interpolation_step;
};

}  // namespace zav
