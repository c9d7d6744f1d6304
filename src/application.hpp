#pragma once

#include <memory>

#include "config.hpp"
#include "core/events_loop.hpp"
#include "core/logger.hpp"
#include "core/periodic_timer.hpp"
#include "database.hpp"
#include "post_processor_runner.hpp"

namespace zav {

// The daemon: the position store, the processing runner over it, and the
// periodic timer "main_timer" that runs the runner every timer_period_sec.
// The constructor returns after the first run, which catches up with
// everything written since the last stop, so it may take long; it may also
// block while the database is unreachable. _events_loop, _signals and _logger
// must outlive the application.
class application
{
public:
    using logger = libs::core::logger;
    using events_loop = libs::core::events_loop;

    // Throws when the store or the runner cannot be built (among others
    // "Interrupted" when a termination signal ends the wait for the database).
    // An exception of the first run is logged; the timer retries at its next
    // tick.
    application(events_loop& _events_loop, events_loop::signals_handle& _signals, const config& _config,
                logger& _logger);

    application(const application&) = delete;
    application& operator=(const application&) = delete;

private:
    // Destroyed in reverse order: the timer first, so that no tick reaches a
    // destroyed runner, then the runner, then the store it refers to.
    std::unique_ptr<database> m_database;
    std::unique_ptr<post_processor_runner> m_runner;
    logger& m_logger;
    libs::core::periodic_timer::ptr m_main_timer;
};

}  // namespace zav
