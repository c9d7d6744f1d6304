#include "application.hpp"

#include <algorithm>
#include <chrono>

#include "core/exception.hpp"
#include "core/source_location.hpp"
#include "database_impl.hpp"
#include "store/inconsistent_state_error.hpp"
#include "store/node_accounts.hpp"
#include "store/store_error.hpp"
#include "store/window_reader_impl.hpp"

namespace zav {

application::application(events_loop& _events_loop, events_loop::signals_handle& _signals,
                         const config& _config, logger& _logger, service_notifier& _notifier)
    : m_logger(_logger), m_events_loop(_events_loop)
{
    _logger.set_debug(_config.system.debug);

    const node_addresses nodes =
        _config.dw.hosts.empty() ? node_addresses{{_config.dw.host, _config.dw.port}} : _config.dw.hosts;
    // A holder that stays idle between timer ticks must not lose its lease
    // to a waiting daemon on every tick.
    const auto lease_duration = std::max(database_impl::default_lease_duration,
                                         3 * std::chrono::seconds(_config.system.timer_period_sec));
    const auto watchdog_interval =
        std::chrono::duration_cast<std::chrono::milliseconds>(_notifier.watchdog_interval());
    progress_reporter::intervals intervals;
    // Four pings per interval at the least, so that one late tick is no miss.
    if (watchdog_interval.count() > 0)
        intervals.watchdog = std::min(intervals.watchdog, watchdog_interval / 4);
    const auto accounts =
        node_accounts(nodes, _config.dw.user, _config.dw.password, _config.dw.database, _config.dw.tls);
    m_backlog = window_reader_impl::connect(accounts, _logger, false);
    m_reporter = std::make_unique<progress_reporter>(_logger, _notifier, m_backlog.get(), intervals);

    _notifier.status("connecting to the database");
    m_database = std::make_unique<database_impl>(
        nodes, _config.dw.user, _config.dw.password, _config.dw.database, _signals, _logger,
        _config.system.insert_piece_size, _config.system.persistent_data_dir, lease_duration, _config.dw.tls);
    m_window_reader = window_reader_impl::connect(accounts, _logger, true);
    m_runner = std::make_unique<post_processor_runner>(
        *m_database, _logger, _signals, _config.system.persistent_data_dir,
        std::chrono::seconds(_config.system.select_duration_sec),
        std::chrono::seconds(_config.system.max_lateness_sec),
        std::chrono::seconds(_config.system.late_horizon_sec), _config.system.repair_late_rows);
    m_runner->set_observer(m_reporter.get());
    m_runner->set_window_reader(m_window_reader.get());

    m_main_timer = _events_loop.create_periodic_timer(
        std::chrono::seconds(_config.system.timer_period_sec), "main_timer",
        [this](libs::core::timer::time_point) { run_once(); }, libs::core::source_location());
    // Pings from the loop itself: a loop that no longer runs its timers is
    // hung, and the service manager restarts it. Long runs ping per piece.
    if (watchdog_interval.count() > 0)
        m_watchdog_timer = _events_loop.create_periodic_timer(
            intervals.watchdog, "watchdog_timer",
            [this](libs::core::timer::time_point) { m_reporter->keep_alive(); },
            libs::core::source_location());

    _notifier.ready();
    run_once();
}

void application::run_once()
{
    // Caught here rather than by the loop's caller, so that a failure that
    // repeats at every tick is logged once and then only reminded of.
    m_reporter->run_started();
    try {
        m_runner->run();
    } catch (const inconsistent_state_error& e) {
        // Every later run would find the same contradiction, and a guess could
        // lose or duplicate rows: the daemon stops.
        m_logger.error("Stopping: %1%") % e.what();
        m_inconsistent_state = true;
        m_events_loop.stop();
        return;
    } catch (...) {
        m_reporter->run_failed(libs::core::exception_to_string(), current_failure_kind());
        return;
    }
    m_reporter->run_succeeded();
}

}  // namespace zav
