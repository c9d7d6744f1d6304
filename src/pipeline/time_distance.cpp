#include "pipeline/time_distance.hpp"

#include <cmath>
#include <cstdint>

namespace zav::pipeline {

std::chrono::milliseconds delta_ms(const position& _lhs, const position& _rhs)
{
    const std::chrono::milliseconds delta = _rhs.ts - _lhs.ts;
    return delta < std::chrono::milliseconds::zero() ? -delta : delta;
}

std::chrono::seconds delta_s(const position& _lhs, const position& _rhs)
{
    return std::chrono::seconds(rounded_seconds(delta_ms(_lhs, _rhs).count()));
}

std::int64_t rounded_seconds(std::int64_t _milliseconds)
{
    return _milliseconds / 1000 + std::lround(static_cast<double>(_milliseconds % 1000) / 1000.0);
}

}  // namespace zav::pipeline
