#pragma once

#include <boost/optional.hpp>
#include <chrono>
#include <deque>
#include <map>
#include <memory>
#include <string>

#include "core/events_loop.hpp"
#include "core/logger.hpp"
#include "core/timestamp.hpp"
#include "daemon/piece_observer.hpp"
#include "database.hpp"
#include "positions_post_processor.hpp"

namespace zav {

// Moves raw positions from positions_raw through the post-processing pipeline
// into positions, one time window (a piece) at a time, until it has caught up
// with the present. The newest written time is its only progress marker: every
// window starts right after it. The pipeline's carry-over context lives in
// <persistent data dir>/runner.bin, keyed by the time it continues from, so
// that a restart after a stop, a crash or a failed write goes on as if nothing
// had happened.
//
// Windows never reach past the database server's present minus
// _max_lateness: rows dated in the future wait until their time has come,
// and rows that arrive up to _max_lateness late are processed in order.
// Rows that arrive later than that, after a window has read their time,
// are counted and reported, as are rows dated far in the future and rows whose
// time is invalid.
//
// _database, _logger and _signals must outlive the runner. Single-threaded:
// construct it and call run() on the thread that runs the events loop.
class post_processor_runner
{
public:
    using logger = libs::core::logger;
    using signals_handle = libs::core::events_loop::signals_handle;

    // Creates runner.bin (an empty map) when it is missing or unreadable,
    // completes an interrupted write and reads the newest written time,
    // retrying every 5 s while the store fails. Throws "Interrupted" when a
    // termination signal has arrived and an attempt has failed,
    // inconsistent_state_error when the interrupted write does not fit the
    // table, and rejects a window length below 1 s or a negative lateness.
    post_processor_runner(database& _database, logger& _logger, signals_handle& _signals,
                          std::string _persistent_data_dir, std::chrono::seconds _select_duration,
                          std::chrono::seconds _max_lateness = std::chrono::seconds(0));

    post_processor_runner(const post_processor_runner&) = delete;
    post_processor_runner& operator=(const post_processor_runner&) = delete;

    // Completes an interrupted write, then processes pieces until caught up,
    // out of data, or signalled. Exceptions of the store, the pipeline and the
    // state file pass to the caller; the next run resumes where positions ends.
    void run();

    // Told after each written piece; null for none. Must outlive the runner.
    void set_observer(piece_observer* _observer) { m_observer = _observer; }

private:
    using additional_data_map = std::map<timestamp, positions_post_processor::additional_data>;

    // One window, ending at _limit at the latest; true when the next piece
    // should follow at once.
    bool move_one_piece(timestamp _limit);
    // Window adaptation after a piece that produced nothing (_no_rows: the
    // window held no raw row at all); true when another attempt should
    // follow at once. The window never grows past _limit.
    bool adjust_select_duration(timestamp _limit, bool _no_rows);
    // Reports, at most once per ten minutes, raw rows that no window reads in
    // time: rows dated more than a minute ahead of _server_now, rows with an
    // invalid time.
    void report_outliers_if_due(timestamp _server_now);
    // Re-counts the raw rows of the recently written range and reports those
    // that arrived after their time had been written.
    void report_late_arrivals();
    // Starts the windows just before the oldest raw position; false (logged)
    // when positions_raw is empty.
    bool start_before_first_raw_position();
    void save(const additional_data_map& _additional_data_map);
    // Whatever could be read; a missing or corrupt file is logged and gives
    // the elements read before the failure (normally none).
    additional_data_map restore_additional_data() const;

    database& m_database;
    logger& m_logger;
    signals_handle& m_signals;
    boost::optional<timestamp> m_last_inserted_positon_ts;
    std::string m_persistent_data_file;
    std::chrono::seconds m_select_duration;
    const std::chrono::seconds m_default_select_duration;
    const std::chrono::seconds m_max_lateness;
    // The recently written ranges (after, until] in time order, contiguous,
    // with the raw rows that their windows read: the reference for
    // late-arrival counting.
    struct written_range
    {
        timestamp after, until;
        long long rows;
    };
    std::deque<written_range> m_written_ranges;
    std::chrono::steady_clock::time_point m_next_outlier_report{};
    long long m_reported_invalid_time_rows = 0;
    // What runner.bin holds since this runner last wrote or read it, so that
    // the file is read only after a start or a failed save; empty when unknown.
    additional_data_map m_saved_contexts;
    // The newest written time whose carry-over was last reported rebuilt, so
    // that windows growing from one point report it once.
    boost::optional<timestamp> m_rebuild_reported_for;
    piece_observer* m_observer = nullptr;
};

}  // namespace zav
