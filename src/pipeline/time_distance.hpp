#pragma once

#include "position.hpp"

#include <chrono>
#include <cstdint>

namespace zav::pipeline {

// Absolute time difference |_rhs.ts - _lhs.ts|.
std::chrono::milliseconds delta_ms(const position& _lhs, const position& _rhs);
// The same rounded to whole seconds, halves up: 1500 ms is 2 s, 1499 ms 1 s.
std::chrono::seconds delta_s(const position& _lhs, const position& _rhs);
// A non-negative number of milliseconds rounded to whole seconds, halves up.
std::int64_t rounded_seconds(std::int64_t _milliseconds);

}  // namespace zav::pipeline
