#include "store/trailing_second_trim.hpp"

namespace zav {

namespace {

long long whole_second(const position& _position)
{
    return _position.ts.get_time_since_epoch().count() / 1000;
}

}  // namespace

positions_vector trim_trailing_second(positions_vector _positions)
{
    if (_positions.empty()) return _positions;
    const long long last_second = whole_second(_positions.back());
    auto run_start = _positions.end();
    while (run_start != _positions.begin() && whole_second(*(run_start - 1)) == last_second) --run_start;
    _positions.erase(run_start, _positions.end());
    return _positions;
}

}  // namespace zav
