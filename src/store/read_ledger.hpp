#pragma once

#include "store/read_range.hpp"

#include "core/timestamp.hpp"

#include "mariadb++/connection.hpp"

#include <boost/optional.hpp>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zav {

// The tables trackmend_read_ledger and trackmend_late_check
// (sql/schema.sql): what the daemon has read, kept in the database so that a
// restarted daemon, or another host's after a take-over, knows it too.
//
// A row that arrives after its time was read makes the count of its ledger
// range grow; the difference to the rows read is late, and late_rows keeps
// how much of it was reported, so that each late row is reported once. Two
// ways lead to a range: the raw rows inserted since the last look (by id)
// whose time lies in a written range, every run; and a sweep that recounts
// older ranges, newest first, a bounded number of rows a minute, for rows
// whose id was taken before the last look but committed after it (ids are
// handed out at insert, not at commit, and Galera nodes interleave them).
//
// Statements go through _connection, writes inside the caller's fenced
// transaction. _connection must outlive the ledger. Single-threaded.
class read_ledger
{
public:
    // The sweep recounts ranges of at most this many raw rows at most once
    // per interval (the ranges that new rows point at are recounted at every
    // look, whatever their size). Recounting walks the rows themselves (the
    // type is not in the ts index): with a 10,000-rows/s feed, 1,000,000
    // rows a minute cost the server 3.7 s of CPU a minute, this budget
    // nothing beyond the noise (bench/late_detection.sh).
    static constexpr long long sweep_rows_per_look = 250'000;
    static constexpr std::chrono::seconds sweep_interval{60};
    // How often the id mark of the looks is saved when nothing was found.
    static constexpr std::chrono::seconds mark_save_interval{60};

    explicit read_ledger(mariadb::connection& _connection);

    // Creates the two tables when they are missing; needs no privilege when
    // they exist.
    void create_tables_if_missing();

    // The statements that record _range, for the caller's open transaction.
    // Ranges recorded earlier that reach past _range.after were read for a
    // write that never completed (positions ends at _range.after): they are
    // dropped or cut back to it.
    std::string record_statements(const read_range& _range) const;

    // The ranges within (_after, _until], oldest first; with _late_only
    // those that end within it and have late rows not yet processed.
    std::vector<ledger_range> ranges_within(libs::core::timestamp _after, libs::core::timestamp _until,
                                            bool _late_only) const;
    // The statements that count _range.read_rows raw rows of _range as
    // processed, and the late rows reported beyond them as unprocessed.
    std::string processed_statements(const ledger_range& _range) const;

    // What one look found; commit_look() makes it durable.
    struct look
    {
        late_rows found;
        // The statements that count the late rows as reported and move the
        // look's id mark on; empty when nothing changes.
        std::string statements;
    };
    // Looks for late rows in the ranges up to _newest_written that end after
    // _horizon_start; read-only. The caller runs look::statements in a
    // fenced transaction, then calls looked().
    look look_for_late_rows(libs::core::timestamp _newest_written, libs::core::timestamp _horizon_start);
    // The statements of the last look were committed.
    void looked();

private:
    struct range_count
    {
        std::string until;
        long long raw_rows = 0, late_rows = 0, now_rows = 0;
        long long after_ms = 0, until_ms = 0;
    };
    std::vector<range_count> recount(const std::vector<std::string>& _untils) const;
    // Up to sweep_rows_per_look rows' worth of ranges before the sweep's
    // position, newest first; the position moves on, and starts over from
    // _newest_written once it has passed _horizon_start.
    std::vector<std::string> next_sweep(libs::core::timestamp _newest_written,
                                        libs::core::timestamp _horizon_start);

    mariadb::connection& m_connection;
    // The highest raw id looked at, here and as last saved, and when it is
    // saved next.
    std::optional<long long> m_checked, m_pending_checked;
    bool m_pending_mark_saved = false;
    std::chrono::steady_clock::time_point m_next_mark_save{};
    std::chrono::steady_clock::time_point m_next_sweep{};
    boost::optional<libs::core::timestamp> m_sweep_before;
    boost::optional<libs::core::timestamp> m_pending_sweep_before;
};

}  // namespace zav
