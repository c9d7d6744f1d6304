#pragma once

#include "position.hpp"

#include <boost/optional.hpp>

#include <chrono>

namespace zav {

// The newest rows of the last raw window, kept so that the next window,
// which starts where the written positions end (the held-back 10 s and the
// trimmed second before the last window's end), reads from the server only
// what lies after the last window. Rows that reach the server for that range
// after it was read are later than any lateness the windows wait for; the
// late-arrival count reports them, as it reports every row that no window
// read.
class raw_window_tail
{
public:
    // What the window (_from, _until] can take from the kept rows: those
    // later than _from, in time order, and the time after which the server
    // must still be read (_from itself when nothing is reusable: a window
    // that starts before the kept range or at or after its end, or that
    // ends before it). The rows are handed over, not copied: until keep()
    // is called again nothing is kept, so a window whose read fails after
    // this is read whole the next time.
    struct reusable_rows
    {
        positions_vector rows;
        timestamp read_after;
    };
    reusable_rows take(timestamp _from, timestamp _until);
    // Keeps the rows of the window (_from, _until], in time order and
    // untrimmed, that lie in the last _span of it.
    void keep(timestamp _from, timestamp _until, const positions_vector& _rows,
              std::chrono::milliseconds _span);

private:
    struct range
    {
        // Every row of (after, until] that the window read.
        timestamp after, until;
        positions_vector rows;
    };
    boost::optional<range> m_kept;
};

}  // namespace zav
