#pragma once

#include "core/events_loop.hpp"
#include "core/logger.hpp"
#include "core/source_location.hpp"

#include <chrono>
#include <functional>

namespace zav {

// Runs _attempt until it succeeds: a failed attempt is logged at error level
// and followed, after up to 5 s, by the next one. The wait ends early when a
// termination signal arrives; once one has arrived, the next failure throws
// zav::libs::core::exception "Interrupted" located at _where. Used by every
// start-up step that waits for the database. inconsistent_state_error is
// not retried: it passes to the caller at once.
void retry_until_signalled(const libs::core::logger& _logger,
                           const libs::core::events_loop::signals_handle& _signals,
                           const libs::core::source_location& _where, const std::function<void()>& _attempt);

// Waits _interval, or less once a termination signal has arrived, so that
// shutting down never waits for the interval to run out.
void wait_unless_signalled(const libs::core::events_loop::signals_handle& _signals,
                           std::chrono::milliseconds _interval);

}  // namespace zav
