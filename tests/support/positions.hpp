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

// Two positions that between them fill every member once, with a blank in a
// uid: what the tests of the state files pin their byte layouts with.
inline positions_vector pinned_positions()
{
    auto a = pos("T1", ms(1714564800007), 10, -5);
    a.trackable_id = 7;
    a.area_uid = "A";
    a.inactive = 0;
    auto b = pos("T 2", ms(1714564801500));
    b.trackable_id = 8;
    b.mac_address = "aa:bb";
    b.z = 3;
    b.project_uid = "p";
    return {a, b};
}

}  // namespace zav::test
