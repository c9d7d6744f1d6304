#pragma once

#include "position.hpp"
#include "store/backlog_source.hpp"

#include <chrono>
#include <memory>

namespace zav {

// Read-only access to positions_raw, for the work beside the writer: the
// window read ahead on its own thread and the backlog of progress reports.
// An implementation cannot write, take the writer lease or touch the state
// files: it has no way to. Not thread-safe: one thread at a time.
class window_reader : public backlog_source
{
public:
    using ptr = std::unique_ptr<window_reader>;
    using timestamp = libs::core::timestamp;

    // Raw positions with _from < ts <= _from + _duration, heartbeats
    // excluded, in time order, without the trailing run of the last row's
    // whole second (it may still be arriving). Heartbeats are rows whose type
    // equals 'HB' in the column's collation ('HB ' too, trailing blanks
    // being ignored) and rows whose type is NULL. Failures are thrown as
    // store_error.
    virtual positions_vector get_raw_positions(timestamp _from, std::chrono::seconds _duration) = 0;
};

}  // namespace zav
