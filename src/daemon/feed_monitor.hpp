#pragma once

#include "core/logger.hpp"
#include "core/timestamp.hpp"
#include "daemon/range_reprocessor.hpp"
#include "database.hpp"

#include <chrono>
#include <functional>

namespace zav {

// Watches the feed for raw rows that the window loop cannot process in time
// and reports them, so that none goes without a word: rows dated in the
// future, rows with an invalid time, and rows that arrived after their time
// had been written (late rows, found through the store's read ledger).
//
// _database and _logger must outlive the monitor. Single-threaded: called by
// the runner, on its thread.
class feed_monitor
{
public:
    using logger = libs::core::logger;
    using steady_clock = std::chrono::steady_clock;

    // How often a condition that persists is reported again.
    static constexpr std::chrono::minutes repeat_interval{10};
    // Rows dated further ahead of the server's present than this are
    // reported: a producer writing local time instead of UTC shows at once.
    static constexpr std::chrono::minutes future_tolerance{1};

    // How many ledger ranges one run repairs at most, so that a run after a
    // long outage of a gateway does not hold up the window loop for long.
    static constexpr int repairs_per_run = 10;

    struct settings
    {
        // Named in the late-row warning.
        std::chrono::seconds max_lateness{0};
        // Late rows are looked for in the written time of the last
        // late_horizon.
        std::chrono::seconds late_horizon{86400};
        // Whether the positions around late rows are recomputed and replaced.
        bool repair = false;
        // The longest time a repair replaces in one transaction.
        std::chrono::seconds repair_piece{60};
    };

    feed_monitor(database& _database, const logger& _logger, settings _settings,
                 std::function<steady_clock::time_point()> _steady_now = steady_clock::now);

    // Rows dated more than future_tolerance after _server_now and rows with
    // an invalid time: reported at the first run that sees them, then at
    // most every repeat_interval while they remain (invalid ones again only
    // when their number changed).
    void check_outliers(timestamp _server_now);
    // Late rows in the written time up to _newest_written; each reported
    // once, so that the warnings add up to the number of late rows. With
    // repair, then recomputes the positions around the ledger ranges with
    // late rows that the written time has passed by twice the look-back:
    // the positions written after them that their late rows change are in
    // positions then, and the raw rows that recomputing them needs.
    void check_late_rows(timestamp _newest_written);

private:
    database& m_database;
    const logger& m_logger;
    void repair_late_rows(timestamp _newest_written);

    const settings m_settings;
    range_reprocessor m_repairer;
    std::function<steady_clock::time_point()> m_steady_now;
    // Whether future rows were present at the last check, and when they may
    // be reported again.
    bool m_future_present = false;
    steady_clock::time_point m_next_future_report{};
    long long m_reported_invalid_time_rows = 0;
    steady_clock::time_point m_next_invalid_report{};
};

}  // namespace zav
