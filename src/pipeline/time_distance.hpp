#pragma once

#include "position.hpp"

#include <chrono>

namespace zav::pipeline {

// Absolute time difference |_rhs.ts - _lhs.ts|.
std::chrono::milliseconds delta_ms(const position& _lhs, const position& _rhs);
// The same rounded to whole seconds, halves up: 1500 ms is 2 s, 1499 ms 1 s.
std::chrono::seconds delta_s(const position& _lhs, const position& _rhs);

}  // namespace zav::pipeline
