#pragma once

#include "store/store_error.hpp"

#include "core/events_loop.hpp"
#include "core/logger.hpp"
#include "core/source_location.hpp"

#include <chrono>
#include <functional>
#include <string>

namespace zav {

// Tells of one failed attempt: the failure's text as the log shows it, and
// what it means.
using attempt_failure_report = std::function<void(const std::string& _error, store_failure _kind)>;

// Runs _attempt until it succeeds: a failed attempt is reported and followed,
// after up to 5 s, by the next one. The wait ends early when a termination
// signal arrives; once one has arrived, the next failure throws
// zav::libs::core::exception "Interrupted" located at _where. Used by every
// start-up step that waits for the database.
//
// A failure that no wait mends (see unmendable_cause: the account refused, a
// missing table or right, TLS) is not retried: it is thrown at once as
// zav::libs::core::exception "Cannot start: <cause>: <text> (MariaDB error
// N)" located at _where. Neither is inconsistent_state_error, which passes
// to the caller as it is.
//
// Failures are reported through _report when it is given, else logged as a
// failure_series (the first in full, then a reminder once a minute).
void retry_until_signalled(const libs::core::logger& _logger,
                           const libs::core::events_loop::signals_handle& _signals,
                           const libs::core::source_location& _where, const std::function<void()>& _attempt,
                           const attempt_failure_report& _report = nullptr);

// Waits _interval, or less once a termination signal has arrived, so that
// shutting down never waits for the interval to run out.
void wait_unless_signalled(const libs::core::events_loop::signals_handle& _signals,
                           std::chrono::milliseconds _interval);

}  // namespace zav
