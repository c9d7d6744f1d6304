#include "daemon/feed_monitor.hpp"

#include "daemon/resume_without_context.hpp"

#include <utility>

namespace zav {

namespace {

std::string to_log_string(const timestamp& _ts) { return _ts.to_iso_8601_string(true); }

}  // namespace

feed_monitor::feed_monitor(database& _database, const logger& _logger, settings _settings,
                           std::function<steady_clock::time_point()> _steady_now)
    : m_database(_database),
      m_logger(_logger),
      m_settings(_settings),
      m_repairer(_database, _settings.repair_piece, true),
      m_steady_now(std::move(_steady_now))
{
}

void feed_monitor::check_outliers(timestamp _server_now)
{
    const auto now = m_steady_now();
    const auto outliers = m_database.find_raw_outliers(_server_now + future_tolerance);
    // Rows that appear are reported at once, rows that stay once per
    // interval: a producer that writes local time does so at every tick.
    const bool future_present = outliers.future_rows > 0;
    if (future_present && (!m_future_present || now >= m_next_future_report)) {
        m_next_future_report = now + repeat_interval;
        m_logger.warning(
            "%1% raw rows dated in the future (more than a minute after the database server's time %2%, the "
            "newest at %3%) wait until their time has come; does a producer write local time instead of "
            "UTC?") %
            outliers.future_rows % to_log_string(_server_now) %
            (outliers.newest_future ? to_log_string(*outliers.newest_future) : std::string("?"));
    }
    m_future_present = future_present;

    if (outliers.invalid_time_rows != m_reported_invalid_time_rows && now >= m_next_invalid_report) {
        m_reported_invalid_time_rows = outliers.invalid_time_rows;
        if (outliers.invalid_time_rows > 0) {
            m_next_invalid_report = now + repeat_interval;
            m_logger.warning(
                "%1% raw rows have an invalid time (a zero date or one before 1970) and are skipped") %
                outliers.invalid_time_rows;
        }
    }
}

void feed_monitor::check_late_rows(timestamp _newest_written)
{
    const auto late = m_database.find_late_rows(_newest_written, _newest_written - m_settings.late_horizon);
    if (late.rows > 0 && late.after && late.until) {
        const std::string between = to_log_string(*late.after) + " and " + to_log_string(*late.until);
        if (m_settings.repair)
            m_logger.warning(
                "%1% raw rows arrived late: their time (between %2%) had been written already; the positions "
                "around them are recomputed once the written time is %3% s past them "
                "(system.max_lateness_sec is %4%)") %
                late.rows % between % (2 * resume_look_back).count() % m_settings.max_lateness.count();
        else
            m_logger.warning(
                "%1% raw rows arrived late: their time (between %2%) had been written already, so they are "
                "not processed (system.max_lateness_sec is %3%); to process them: trackmend -c CONFIG "
                "--reprocess '%4%' '%5%'") %
                late.rows % between % m_settings.max_lateness.count() %
                to_log_string(*late.after - resume_look_back) % to_log_string(*late.until + resume_look_back);
    }
    if (m_settings.repair) repair_late_rows(_newest_written);
}

void feed_monitor::repair_late_rows(timestamp _newest_written)
{
    const auto ranges = m_database.get_ledger_ranges(_newest_written - m_settings.late_horizon,
                                                     _newest_written - 2 * resume_look_back, true);
    int repaired = 0;
    for (const auto& range : ranges) {
        if (repaired++ == repairs_per_run) break;
        const auto from = range.after - resume_look_back;
        const auto to = range.until + resume_look_back;
        const auto done = m_repairer.reprocess(from, to);
        m_logger.info(
            "Repaired %1% late raw rows: the positions between %2% and %3% recomputed, %4% removed, "
            "%5% written") %
            range.late_rows % to_log_string(from) % to_log_string(to) % done.removed % done.written;
    }
}

}  // namespace zav
