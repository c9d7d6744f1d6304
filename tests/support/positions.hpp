#pragma once

// Helpers that let tests build positions in one line:
//   pos("T1", ms(1500), 10, 20)

#include "position.hpp"

#include <boost/optional.hpp>

#include <chrono>
#include <string>

namespace zav::test {

inline std::chrono::milliseconds ms(long long _count) { return std::chrono::milliseconds(_count); }

inline position pos(const std::string& _uid, std::chrono::milliseconds _ts,
                    boost::optional<int> _x = boost::none, boost::optional<int> _y = boost::none)
{
    position p;
    p.trackable_uid = _uid;
    p.ts = timestamp(_ts);
    p.x = _x;
    p.y = _y;
    return p;
}

}  // namespace zav::test
