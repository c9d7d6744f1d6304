#include "daemon/resume_without_context.hpp"

#include <map>
#include <set>
#include <string>
#include <utility>

namespace zav {

positions_vector positions_not_yet_written(const positions_vector& _processed, const positions_vector& _raw,
                                           const timestamp& _last)
{
    std::set<std::pair<std::string, timestamp>> raw_times;
    for (const auto& p : _raw)
        if (p.ts < _last) raw_times.emplace(p.trackable_uid, p.ts);

    // Per trackable, the newest real position before _last: the writer
    // before wrote it and every gap fill before it.
    std::map<std::string, timestamp> newest_real;
    for (const auto& p : _processed)
        if (p.ts < _last && raw_times.count({p.trackable_uid, p.ts})) newest_real[p.trackable_uid] = p.ts;

    positions_vector result;
    for (const auto& p : _processed) {
        const auto real = newest_real.find(p.trackable_uid);
        const bool from_last = !(p.ts < _last);
        const bool open_gap_fill =
            !raw_times.count({p.trackable_uid, p.ts}) && (real == newest_real.end() || real->second < p.ts);
        if (from_last || open_gap_fill) result.push_back(p);
    }
    return result;
}

void drop_present_at(positions_vector& _positions, const timestamp& _last,
                     std::map<std::string, long long> _present)
{
    std::erase_if(_positions, [&](const position& _p) {
        if (_p.ts != _last) return false;
        const auto present = _present.find(_p.trackable_uid);
        if (present == _present.end() || present->second <= 0) return false;
        --present->second;
        return true;
    });
}

}  // namespace zav
