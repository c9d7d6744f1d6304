#include "daemon/range_reprocessor.hpp"

#include "daemon/resume_without_context.hpp"
#include "pipeline/constants.hpp"
#include "positions_post_processor.hpp"

#include <algorithm>

namespace zav {

range_reprocessor::range_reprocessor(database& _database, std::chrono::seconds _piece, bool _as_writer)
    : m_database(_database), m_piece(_piece), m_as_writer(_as_writer)
{
}

range_reprocessor::summary range_reprocessor::reprocess(timestamp _after, timestamp _until)
{
    const auto ledger = m_database.get_ledger_ranges(_after, _until, false);
    summary result;
    for (timestamp begin = _after; begin < _until;) {
        timestamp end = begin + m_piece;
        // Where no raw row lies within the look-back of the piece, there is
        // nothing to recompute: the piece reaches up to the look-back before
        // the next raw row, however long that is.
        const auto next = m_database.get_next_raw_position_timestamp(begin - resume_look_back);
        if (!next || end + resume_look_back < *next)
            end = std::max(end, next ? *next - resume_look_back : _until);
        end = std::min(end, _until);
        // A piece never ends inside a ledger range, so that every range
        // within (_after, _until] lies within one piece and is counted as
        // processed.
        for (const auto& range : ledger)
            if (range.after < end && end < range.until) {
                end = std::min(range.until, _until);
                break;
            }
        replace(begin, end, result);
        begin = end;
    }
    return result;
}

void range_reprocessor::replace(timestamp _after, timestamp _until, summary& _summary)
{
    const auto raw = m_database.get_raw_range(_after - resume_look_back, _until + resume_look_back);
    positions_vector processed;
    if (!raw.empty()) {
        // Every raw row that can change the piece has been read: the rows
        // held back for later neighbours are flushed, as batch mode does at
        // the end of its input; raw rows after a gap would release them
        // just the same.
        auto flushed = raw;
        flushed.push_back(raw.back());
        flushed.back().ts = flushed.back().ts + pipeline::flush_advance;
        processed = positions_post_processor::process_positions({}, std::move(flushed)).processed_positions;
    }
    std::erase_if(processed, [&](const position& _p) { return !(_after < _p.ts) || _until < _p.ts; });

    // What the ledger ranges within the piece have now read: every raw row
    // of their time, the late ones among them.
    const auto rows_up_to = [&](const timestamp& _t) {
        return std::upper_bound(raw.begin(), raw.end(), _t,
                                [](const timestamp& _x, const position& _p) { return _x < _p.ts; }) -
               raw.begin();
    };
    auto ranges = m_database.get_ledger_ranges(_after, _until, false);
    for (auto& range : ranges) range.read_rows = rows_up_to(range.until) - rows_up_to(range.after);

    const auto replaced = m_database.replace_positions(_after, _until, processed, ranges, m_as_writer);
    _summary.removed += replaced.removed;
    _summary.written += replaced.written;
    for (const auto& p : processed) _summary.tags.insert(p.trackable_uid);
}

}  // namespace zav
