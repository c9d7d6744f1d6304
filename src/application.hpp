#pragma once

#include <memory>

#include "config.hpp"
#include "core/events_loop.hpp"
#include "core/logger.hpp"
#include "core/periodic_timer.hpp"
#include "daemon/progress_reporter.hpp"
#include "daemon/service_notifier.hpp"
#include "database.hpp"
#include "post_processor_runner.hpp"
#include "store/backlog_source.hpp"
#include "store/window_reader.hpp"

namespace zav {

// The daemon: the position store, the processing runner over it, and the
// periodic timer "main_timer" that runs the runner every timer_period_sec.
// The constructor returns after the first run, which catches up with
// everything written since the last stop, so it may take long; it may also
// block while the database is unreachable. _events_loop, _signals, _logger
// and _notifier must outlive the application.
class application
{
public:
    using logger = libs::core::logger;
    using events_loop = libs::core::events_loop;

    // Throws when the store or the runner cannot be built (among others
    // "Interrupted" when a termination signal ends the wait for the database).
    // Tells _notifier that the daemon is ready once the store is connected
    // and the first run starts. A failed run, the first or a timed one, is
    // reported (rate-limited) and retried at the next tick.
    application(events_loop& _events_loop, events_loop::signals_handle& _signals, const config& _config,
                logger& _logger, service_notifier& _notifier);

    application(const application&) = delete;
    application& operator=(const application&) = delete;

    // True once a run found the state files contradicting the database and
    // stopped the loop: the process then ends with a failure status, so that
    // the service manager shows it as failed instead of stopped.
    bool stopped_on_inconsistent_state() const { return m_inconsistent_state; }

private:
    void run_once();

    // Destroyed in reverse order: the timers first, so that no tick reaches a
    // destroyed runner, then the runner, then the store it refers to, then
    // the reporter the runner tells of its pieces.
    backlog_source::ptr m_backlog;
    std::unique_ptr<progress_reporter> m_reporter;
    std::unique_ptr<database> m_database;
    // Reads the windows on a connection of its own, so that the next window
    // is read while the last one is written.
    window_reader::ptr m_window_reader;
    std::unique_ptr<post_processor_runner> m_runner;
    logger& m_logger;
    // Stopped when the state files contradict the database.
    events_loop& m_events_loop;
    libs::core::periodic_timer::ptr m_main_timer;
    libs::core::periodic_timer::ptr m_watchdog_timer;
    bool m_inconsistent_state = false;
};

}  // namespace zav
