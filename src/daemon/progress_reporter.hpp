#pragma once

#include <boost/optional.hpp>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "core/logger.hpp"
#include "core/timestamp.hpp"
#include "daemon/piece_observer.hpp"
#include "daemon/service_notifier.hpp"
#include "store/backlog_source.hpp"
#include "store/failure_series.hpp"
#include "store/store_error.hpp"

namespace zav {

struct progress_intervals
{
    std::chrono::milliseconds progress{std::chrono::seconds(10)};
    std::chrono::milliseconds reminder{std::chrono::seconds(60)};
    // The least time between two watchdog pings.
    std::chrono::milliseconds watchdog{std::chrono::seconds(1)};
};
struct progress_clocks
{
    std::function<std::chrono::steady_clock::time_point()> steady = [] {
        return std::chrono::steady_clock::now();
    };
    std::function<libs::core::timestamp()> wall = [] { return libs::core::timestamp::current_time(); };
};

// What an operator sees of the daemon's work: info lines in the log and the
// service manager's status line, both rate-limited, and the watchdog pings.
//
// - A run that moves pieces for longer than the progress interval is a
//   catch-up: one line per interval with the raw rows moved, the newest
//   written time, the rate and the distance to the newest raw row; when it
//   ends, "caught up; lag N s". The first run after the start ends with that
//   line too.
// - A failing run logs its error once; further failures of the same series
//   give a reminder at most once per reminder interval with the count of
//   failed attempts, and the first success after them says so.
//
// Single-threaded: called on the loop's thread only. _logger, _notifier and
// _backlog (which may be null) must outlive the reporter.
class progress_reporter : public piece_observer
{
public:
    using logger = libs::core::logger;
    using timestamp = libs::core::timestamp;
    using steady_clock = std::chrono::steady_clock;

    using intervals = progress_intervals;
    using clocks = progress_clocks;

    progress_reporter(logger& _logger, service_notifier& _notifier, backlog_source* _backlog,
                      intervals _intervals = {}, clocks _clocks = {});

    void run_started();
    void piece_moved(const moved_piece& _piece) noexcept override;
    // The run has caught up (or was stopped by a signal).
    void run_succeeded();
    // _error: the failure's text as the log shows it; _kind: what it means
    // (a lost session reads "database unreachable" in the status).
    void run_failed(const std::string& _error, store_failure _kind);
    // The loop is alive: a watchdog ping, rate-limited.
    void keep_alive();

private:
    void report_progress(steady_clock::time_point _now);
    void report_live();

    logger& m_logger;
    service_notifier& m_notifier;
    backlog_source* m_backlog;
    const intervals m_intervals;
    const clocks m_clocks;

    boost::optional<timestamp> m_newest_written;
    bool m_first_run_done = false;
    // The current run: when it began, whether it has reported progress (so
    // is a catch-up), and the rows since the last report.
    steady_clock::time_point m_run_start;
    bool m_catching_up = false;
    steady_clock::time_point m_last_report;
    std::uint64_t m_rows_since_report = 0;
    boost::optional<steady_clock::time_point> m_last_ping;
    // The current series of failed runs.
    failure_series m_failures;
};

// "1.2 M", "48 k", "950": counts for the status line.
std::string short_count(double _count);

}  // namespace zav
