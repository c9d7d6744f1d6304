#pragma once

#include <chrono>

namespace zav::pipeline {

// The fixed spans of the post-processing pipeline, on the millisecond counts
// of timestamp.

// The newest 10 s of a piece are held back until their later neighbours have
// arrived; the carry-over keeps the same span of what was processed.
inline constexpr std::chrono::milliseconds hold_back_span{10000};
// A sample is inside another's median window when they lie at most this far
// apart.
inline constexpr std::chrono::milliseconds median_half_width{1000};
// Gaps from shortest_gap to longest_gap inclusive are filled, when they round
// to at least smallest_filled_gap, at steps of interpolation_step.
inline constexpr std::chrono::milliseconds shortest_gap{1001};
inline constexpr std::chrono::milliseconds longest_gap{5000};
inline constexpr std::chrono::seconds smallest_filled_gap{2};
inline constexpr std::chrono::milliseconds interpolation_step{1000};
// A position this far ahead of every real one flushes the held-back part:
// a piece that ends with it processes all the others, while it is held back
// itself and never written.
inline constexpr std::chrono::milliseconds flush_advance{1000000};

}  // namespace zav::pipeline
