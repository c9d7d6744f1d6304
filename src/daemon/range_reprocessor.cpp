#include "daemon/range_reprocessor.hpp"

#include "daemon/resume_without_context.hpp"
#include "positions_post_processor.hpp"

#include <algorithm>

namespace zav {

range_reprocessor::range_reprocessor(database& _database, std::chrono::seconds _piece, bool _as_writer)
    : m_database(_database), m_piece(_piece), m_as_writer(_as_writer)
{
}

range_reprocessor::summary range_reprocessor::reprocess(timestamp _after, timestamp _until)
{
    // Pieces end where ledger ranges end, so that every range within
    // (_after, _until] lies within one piece and is counted as processed.
    std::vector<timestamp> ends;
    timestamp begin = _after;
    for (const auto& range : m_database.get_ledger_ranges(_after, _until, false))
        if (!(range.until - begin < m_piece) && range.until < _until) ends.push_back(begin = range.until);
    ends.push_back(_until);

    summary result;
    begin = _after;
    for (const timestamp end : ends) {
        const auto raw = m_database.get_raw_range(begin - resume_look_back, end + resume_look_back);
        auto processed = positions_post_processor::process_positions({}, raw).processed_positions;
        std::erase_if(processed, [&](const position& _p) { return !(begin < _p.ts) || end < _p.ts; });

        // What the ledger ranges within the piece have now read: every raw
        // row of their time, the late ones among them.
        const auto rows_up_to = [&](const timestamp& _t) {
            return std::upper_bound(raw.begin(), raw.end(), _t,
                                    [](const timestamp& _x, const position& _p) { return _x < _p.ts; }) -
                   raw.begin();
        };
        auto ranges = m_database.get_ledger_ranges(begin, end, false);
        for (auto& range : ranges) range.read_rows = rows_up_to(range.until) - rows_up_to(range.after);

        const auto replaced = m_database.replace_positions(begin, end, processed, ranges, m_as_writer);
        result.removed += replaced.removed;
        result.written += replaced.written;
        for (const auto& p : processed) result.tags.insert(p.trackable_uid);
        begin = end;
    }
    return result;
}

}  // namespace zav
