#pragma once

#include "core/timestamp.hpp"
#include "database.hpp"

#include <chrono>
#include <set>
#include <string>

namespace zav {

// Recomputes the positions of written time from the raw rows and replaces
// them, so that positions holds there what one pass of the pipeline over all
// raw rows gives, late rows included: the repair of late rows and the
// reprocess command.
//
// Each piece (a, b] is recomputed from the raw rows of (a - L, b + L], L
// being the look-back that rebuilds the pipeline's carry-over from nothing
// (daemon/resume_without_context.hpp), so that its positions do not depend
// on where it starts or ends; and replaced in one transaction, together
// with the ledger ranges within it, which then count the rows read here as
// processed. Repeating it changes nothing.
class range_reprocessor
{
public:
    struct summary
    {
        long long removed = 0, written = 0;
        std::set<std::string> tags;
    };

    // _database must outlive the reprocessor. _piece: how much time one
    // transaction replaces, rounded up to the end of a ledger range. _as_writer: the daemon, which holds the
    // writer lease; otherwise another process (see
    // database::replace_positions).
    range_reprocessor(database& _database, std::chrono::seconds _piece, bool _as_writer);

    // Replaces (_after, _until] piece by piece, oldest first: pieces _piece
    // long, or longer where they hold no raw row, never ending inside a
    // ledger range. The raw rows
    // must reach at least the look-back past _until, as they do up to the
    // newest written time minus it.
    summary reprocess(timestamp _after, timestamp _until);

private:
    // Recomputes and replaces one piece.
    void replace(timestamp _after, timestamp _until, summary& _summary);

    database& m_database;
    std::chrono::milliseconds m_piece;
    bool m_as_writer;
};

}  // namespace zav
