#pragma once

#include "position.hpp"
#include "store/read_range.hpp"

#include <boost/optional.hpp>

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace zav {

// The position store: every access to the tables positions_raw (read) and
// positions (written) goes through this interface. Failures are thrown as
// zav::libs::core::exception.
class database
{
public:
    using ptr = std::unique_ptr<database>;
    using timestamp = zav::timestamp;

    virtual ~database() = default;

    // Completes a write that was interrupted (crash or failure) from the
    // pending-insert file, then removes the file.
    virtual void recover_if_failed() = 0;
    // Newest ts in positions, or none when the table is empty.
    virtual boost::optional<timestamp> get_last_position_timestamp() const = 0;
    // Oldest ts in positions_raw (all types) from 1970 on, or none: rows with
    // a zero or earlier date are never read.
    virtual boost::optional<timestamp> get_first_raw_position_timestamp() const = 0;
    // Oldest ts in positions_raw later than _timestamp, heartbeats excluded.
    virtual boost::optional<timestamp> get_next_raw_position_timestamp(timestamp _timestamp) const = 0;
    // Raw positions with _from < ts <= _from + _duration, heartbeats excluded,
    // in time order, without the trailing run of the last row's whole second.
    // Heartbeats are rows whose type equals 'HB' in the column's collation
    // ('HB ' too, trailing blanks being ignored) and rows whose type is NULL.
    virtual positions_vector get_raw_positions(timestamp _from, std::chrono::seconds _duration) const = 0;
    virtual void clear_positions_table() = 0;

    // The database server's current UTC time: the one clock that producers
    // and daemon hosts are measured against.
    virtual timestamp get_server_time() const = 0;
    // Raw rows that no window will ever read in time: those dated after
    // _future_after (heartbeats excluded), with the newest of them, and those
    // with a time before 1970 (a zero date among them).
    struct raw_outliers
    {
        long long future_rows = 0;
        boost::optional<timestamp> newest_future;
        long long invalid_time_rows = 0;
    };
    virtual raw_outliers find_raw_outliers(timestamp _future_after) const = 0;
    // Whether positions holds a position of _position's trackable at its time.
    virtual bool has_position(const position& _position) const = 0;
    // How many rows positions holds at exactly _ts, per trackable uid.
    virtual std::map<std::string, long long> count_positions_at(timestamp _ts) const = 0;
    // Inserts all positions; crash-safe through the pending-insert file.
    // recover_if_failed() throws inconsistent_state_error when the file does
    // not fit what positions holds. _read, the raw rows that the window of
    // _positions read, goes to the read ledger first, so that rows arriving
    // in its range later are found late by any daemon; an empty range
    // records nothing.
    virtual void write_positions(const positions_vector& _positions, const read_range& _read) = 0;
    // Raw rows that arrived after their time had been written, in the ranges
    // up to _newest_written that end after _horizon_start: those inserted
    // since the last call (or the previous writer's), and those that a sweep
    // over older ranges finds. Each late row is returned by one call only;
    // counting them as reported needs the writer lease.
    virtual late_rows find_late_rows(timestamp _newest_written, timestamp _horizon_start) = 0;

    // Raw positions with _after < ts <= _until, heartbeats excluded, in time
    // order, the newest second included: for recomputing written time.
    virtual positions_vector get_raw_range(timestamp _after, timestamp _until) const = 0;
    // The ledger ranges that lie within (_after, _until], oldest first; with
    // _late_only those that end within it and have late rows not yet
    // processed.
    virtual std::vector<ledger_range> get_ledger_ranges(timestamp _after, timestamp _until,
                                                        bool _late_only) const = 0;
    // Replaces the positions of (_after, _until] by _positions (all within
    // it) in one transaction: positions holds the old rows or the new ones,
    // never both or neither. Each of _processed (ledger ranges within it)
    // then counts read_rows raw rows as processed, and the late rows
    // reported beyond them as still unprocessed. _as_writer: fenced by the
    // writer lease, which this store must hold; otherwise (another process
    // than the daemon) the transaction locks the lease row, so that no daemon
    // writes meanwhile and none is stalled for longer than it.
    virtual replaced_positions replace_positions(timestamp _after, timestamp _until,
                                                 const positions_vector& _positions,
                                                 const std::vector<ledger_range>& _processed,
                                                 bool _as_writer) = 0;
};

}  // namespace zav
