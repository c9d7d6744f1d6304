#pragma once

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
class positions_post_processor {
public:
    using positions = std::vector<position>;
    using filtered_positions = positions;
    using interpolated_positions = positions;

    // Carry-over from one piece to the next.
    struct additional_data {
        additional_data() = default;
        additional_data(const additional_data&) = default;
        additional_data(additional_data&&) = default;
        additional_data& operator=(const additional_data&) = default;
        additional_data& operator=(additional_data&&) = default;
        ~additional_data() = default;

        // The held-back part of the last piece, raw, in time order.
        positions not_processed_positions;
        // The raw versions of the processed positions of the last 10 s.
        positions processed_positions;
        // The same positions, element for element, with filtered x and y.
        filtered_positions processed_filtered_positions;

        template <class Archive>
        void serialize(Archive& _ar, const unsigned int)
        {
            _ar & not_processed_positions;
            _ar & processed_positions;
            _ar & processed_filtered_positions;
        }
    };

    struct post_processing_result {
        ~post_processing_result() = default;

        // Filtered plus synthetic positions, ascending by time.
        positions processed_positions;
        additional_data additional_data_;
    };

    static post_processing_result process_positions(const additional_data& _additional_data,
                                                    positions _positions_to_process);

    static std::pair<std::vector<position>, std::vector<position>> cut_positions(positions _positions_to_process);
    static filtered_positions filter_positions(positions _positions_to_process,
                                               positions _positions_for_filter,
                                               std::size_t _added_positions);
    static interpolated_positions interpolate_positions(filtered_positions _positions_to_process,
                                                        const filtered_positions& _positions_for_interpolation);
    static int median_filter(std::vector<int> _values);
    static additional_data make_additional_data(positions _not_processed_positions,
                                                positions _processed_positions,
                                                filtered_positions _processed_filtered_positions);
    static std::chrono::milliseconds delta_ms(const position& _lhs, const position& _rhs);
    static std::chrono::seconds delta_s(const position& _lhs, const position& _rhs);
    static bool timestamp_less(const position& _lhs, const position& _rhs);

    static constexpr std::chrono::milliseconds hold_back_span{10000};
    static constexpr std::chrono::milliseconds median_half_width{1000};
    static constexpr std::chrono::milliseconds shortest_gap{1001};
    static constexpr std::chrono::milliseconds longest_gap{5000};
    static constexpr std::chrono::seconds smallest_filled_gap{2};
    static constexpr std::chrono::milliseconds interpolation_step{1000};
};

}  // namespace zav
