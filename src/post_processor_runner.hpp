#pragma once

#include <boost/optional.hpp>
#include <chrono>
#include <future>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "core/events_loop.hpp"
#include "core/logger.hpp"
#include "core/timestamp.hpp"
#include "daemon/context_file.hpp"
#include "daemon/feed_monitor.hpp"
#include "daemon/piece_observer.hpp"
#include "database.hpp"
#include "positions_post_processor.hpp"
#include "store/window_reader.hpp"

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
// are counted and reported (looked for in the last _late_horizon of written
// time, through the read ledger of the store), as are rows dated far in the
// future and rows whose time is invalid (daemon/feed_monitor.hpp).
//
// _database, _logger and _signals must outlive the runner. Construct it and
// call run() on the thread that runs the events loop; the only other thread
// is the one of a window read ahead (see set_window_reader), which run()
// joins before it returns.
class post_processor_runner
{
public:
    using logger = libs::core::logger;
    using signals_handle = libs::core::events_loop::signals_handle;

    // How far back in written time late rows are looked for unless the
    // caller says.
    static constexpr std::chrono::seconds default_late_horizon{86400};

    // Creates runner.bin (an empty map) when it is missing or unreadable,
    // completes an interrupted write and reads the newest written time,
    // retrying every 5 s while the store fails. Throws "Interrupted" when a
    // termination signal has arrived and an attempt has failed,
    // inconsistent_state_error when the interrupted write does not fit the
    // table, and rejects a window length below 1 s or a negative lateness.
    post_processor_runner(database& _database, logger& _logger, signals_handle& _signals,
                          std::string _persistent_data_dir, std::chrono::seconds _select_duration,
                          std::chrono::seconds _max_lateness = std::chrono::seconds(0),
                          std::chrono::seconds _late_horizon = default_late_horizon,
                          bool _repair_late_rows = false);

    post_processor_runner(const post_processor_runner&) = delete;
    post_processor_runner& operator=(const post_processor_runner&) = delete;

    // Completes an interrupted write, then processes pieces until caught up,
    // out of data, or signalled. Exceptions of the store, the pipeline and the
    // state file pass to the caller; the next run resumes where positions ends.
    void run();

    // Told after each written piece; null for none. Must outlive the runner.
    void set_observer(piece_observer* _observer) { m_observer = _observer; }
    // Windows are read through _reader, on a connection of its own,
    // and while a piece is written the next window is read and processed on
    // a second thread; null: the store of the constructor reads them, after
    // each write. Nothing durable happens on that thread: the next piece's
    // context is saved only after the write has returned, and a read ahead
    // that failed or no longer fits is dropped and the window read again.
    // Must outlive the runner; the runner uses it from one thread at a time.
    void set_window_reader(window_reader* _reader) { m_reader = _reader; }

private:
    using additional_data_map = std::map<timestamp, positions_post_processor::additional_data>;

    // One window, ending at _limit at the latest; true when the next piece
    // should follow at once.
    bool move_one_piece(timestamp _limit);

    // The raw rows of one window, processed when the window had a context.
    struct window_rows
    {
        // The time of every row read, in time order: how many were read and
        // which ranges they cover.
        std::vector<timestamp> read_times;
        // The rows themselves when they still need processing.
        positions_vector raw;
        // Once processed: the positions to write and the carry-over after
        // them (held apart, as post_processing_result is copied, not moved).
        bool processed = false;
        positions_vector processed_positions;
        positions_post_processor::additional_data next_context;
        // For a window read ahead that moves the start: runner.bin as saving
        // its context writes it, written and synced beside the file already,
        // and the records in it; the save is then the rename alone. None
        // when writing ahead failed: the save writes the file itself then,
        // and reports what fails.
        std::optional<libs::core::prepared_file> context_save;
        context_file::records context_records;
    };
    // Reads (_from, _from + _duration] through the window reader, and
    // processes the rows from *_context unless it is null. Touches no member:
    // it runs on the read-ahead thread too.
    window_rows read_window(timestamp _from, std::chrono::seconds _duration,
                            const positions_post_processor::additional_data* _context) const;
    // Writes ahead the runner.bin that the save of _window's context will
    // write, when the window was processed from the context of _last (whose
    // record is _last_record) and moves the start. Touches no member either.
    void write_context_ahead(window_rows& _window, timestamp _last, const std::string& _last_record) const;
    // Starts reading and processing the window (_from, _from + _duration]
    // from _context, which must stay unchanged until the read is joined.
    void start_read_ahead(timestamp _from, std::chrono::seconds _duration,
                          const positions_post_processor::additional_data& _context);
    struct read_ahead
    {
        timestamp from;
        std::chrono::seconds duration;
        std::future<window_rows> rows;
    };
    // Waits for the window read ahead, if any, and hands it over.
    boost::optional<read_ahead> join_read_ahead();
    // The rows of a joined read ahead when it read (_from, _from + _duration]
    // without a failure, else none (a failure logged). A read ahead not
    // taken is dropped here, with the runner.bin it wrote ahead, before
    // anything else writes that file.
    boost::optional<window_rows> take_rows(boost::optional<read_ahead> _ahead, timestamp _from,
                                           std::chrono::seconds _duration) const;
    // Window adaptation after a piece that produced nothing (_no_rows: the
    // window held no raw row at all); true when another attempt should
    // follow at once. The window never grows past _limit.
    bool adjust_select_duration(timestamp _limit, bool _no_rows);
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
    // <persistent data dir>/runner.bin, the carry-over contexts.
    std::string m_context_file;
    std::chrono::seconds m_select_duration;
    const std::chrono::seconds m_default_select_duration;
    const std::chrono::seconds m_max_lateness;
    const std::chrono::seconds m_late_horizon;
    // Whether the windows start before the oldest raw row, positions being
    // empty, until the first piece is written.
    bool m_from_first_raw_position = false;
    feed_monitor m_feed;
    // What runner.bin holds since this runner last wrote or read it, so that
    // the file is read only after a start or a failed save; empty when unknown.
    additional_data_map m_saved_contexts;
    // The records of m_saved_contexts as written, where known, so that a
    // context is encoded once although two files hold it.
    context_file::records m_saved_records;
    // The newest written time whose carry-over was last reported rebuilt, so
    // that windows growing from one point report it once.
    boost::optional<timestamp> m_rebuild_reported_for;
    piece_observer* m_observer = nullptr;
    window_reader* m_reader = nullptr;
    // The window being read ahead while the last piece is written.
    boost::optional<read_ahead> m_read_ahead;
};

}  // namespace zav
