#include "daemon/progress_reporter.hpp"

#include <boost/format.hpp>
#include <cmath>

namespace zav {

namespace {

std::string seconds_text(std::chrono::milliseconds _duration)
{
    return (boost::format("%.1f") % (static_cast<double>(_duration.count()) / 1000.0)).str();
}

std::string time_of_day(const libs::core::timestamp& _ts)
{
    return _ts.to_iso_8601(false, ' ', false).substr(11);
}

}  // namespace

std::string short_count(double _count)
{
    if (_count >= 999950.0) return (boost::format("%.1f M") % (_count / 1e6)).str();
    if (_count >= 9999.5) return (boost::format("%.0f k") % (_count / 1e3)).str();
    if (_count >= 999.95) return (boost::format("%.1f k") % (_count / 1e3)).str();
    return (boost::format("%.0f") % _count).str();
}

progress_reporter::progress_reporter(logger& _logger, service_notifier& _notifier, backlog_source* _backlog,
                                     intervals _intervals, clocks _clocks)
    : m_logger(_logger),
      m_notifier(_notifier),
      m_backlog(_backlog),
      m_intervals(_intervals),
      m_clocks(std::move(_clocks)),
      m_failures(_intervals.reminder, failure_series::clocks{m_clocks.steady, m_clocks.wall})
{
}

void progress_reporter::run_started()
{
    m_run_start = m_last_report = m_clocks.steady();
    m_catching_up = false;
    m_rows_since_report = 0;
}

void progress_reporter::piece_moved(const moved_piece& _piece) noexcept
{
    try {
        m_newest_written = _piece.newest_written;
        m_rows_since_report += _piece.raw_rows;
        const auto now = m_clocks.steady();
        if (now - m_last_report >= m_intervals.progress) report_progress(now);
        keep_alive();
    } catch (...) {
        // Reporting must never stop the runner.
    }
}

void progress_reporter::report_progress(steady_clock::time_point _now)
{
    m_catching_up = true;
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(_now - m_last_report);
    const double rate = static_cast<double>(m_rows_since_report) * 1000.0 /
                        static_cast<double>(std::max<long long>(elapsed.count(), 1));
    const auto behind = m_backlog ? m_backlog->backlog_after(*m_newest_written) : boost::none;

    std::string distance = "unknown";
    if (behind && behind->newest_raw)
        distance =
            seconds_text(std::max(*behind->newest_raw - *m_newest_written, std::chrono::milliseconds(0))) +
            " s";
    else if (behind)
        distance = "0.0 s";
    m_logger.info(
        "Catching up: %1% raw rows moved, newest written %2%, %3% rows/s, %4% behind the newest raw row") %
        m_rows_since_report % m_newest_written->to_iso_8601_string(true) % std::llround(rate) % distance;
    m_notifier.status("catching up: " +
                      (behind ? std::string(behind->estimated ? "about " : "") +
                                    short_count(static_cast<double>(behind->rows)) + " rows behind, "
                              : std::string()) +
                      short_count(rate) + " rows/s");
    m_last_report = _now;
    m_rows_since_report = 0;
}

void progress_reporter::run_succeeded()
{
    m_failures.succeeded(m_logger);
    if (m_catching_up || !m_first_run_done) {
        if (m_newest_written)
            m_logger.info("caught up; lag %1% s") % seconds_text(m_clocks.wall() - *m_newest_written);
        else
            m_logger.info("caught up; nothing written yet");
    }
    m_first_run_done = true;
    m_catching_up = false;
    report_live();
    keep_alive();
}

void progress_reporter::report_live()
{
    if (m_newest_written)
        m_notifier.status("live: lag " + seconds_text(m_clocks.wall() - *m_newest_written) + " s");
    else
        m_notifier.status("live: nothing written since the start");
}

void progress_reporter::run_failed(const std::string& _error, store_failure _kind)
{
    m_catching_up = false;
    m_failures.failed(m_logger, _error);
    if (_kind == store_failure::session_lost)
        m_notifier.status("database unreachable since " + time_of_day(m_failures.since()) + ", retrying");
    else
        m_notifier.status("failing since " + time_of_day(m_failures.since()) + " (" +
                          std::to_string(m_failures.attempts()) +
                          " attempts), retrying: " + first_line(_error));
    // A failing run is no hang: the loop is alive and retries at each tick.
    keep_alive();
}

void progress_reporter::keep_alive()
{
    const auto now = m_clocks.steady();
    if (m_last_ping && now - *m_last_ping < m_intervals.watchdog) return;
    m_last_ping = now;
    m_notifier.watchdog();
}

}  // namespace zav
