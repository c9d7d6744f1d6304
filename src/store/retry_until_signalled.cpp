#include "store/retry_until_signalled.hpp"

#include "store/failure_series.hpp"
#include "store/inconsistent_state_error.hpp"
#include "store/start_up_failure.hpp"

#include "core/exception.hpp"

#include <chrono>
#include <thread>

namespace zav {

namespace {

constexpr std::chrono::seconds retry_interval(5);
// How often the wait looks at the signal flag, so that a stop request is
// answered at once rather than after the full interval.
constexpr std::chrono::milliseconds signal_poll_interval(100);

}  // namespace

void retry_until_signalled(const libs::core::logger& _logger,
                           const libs::core::events_loop::signals_handle& _signals,
                           const libs::core::source_location& _where, const std::function<void()>& _attempt,
                           const attempt_failure_report& _report)
{
    failure_series failures;
    for (;;) {
        try {
            _attempt();
            failures.succeeded(_logger);
            return;
        } catch (const inconsistent_state_error&) {
            throw;
        } catch (...) {
            const auto number = current_error_number();
            if (const auto cause = unmendable_cause(number))
                throw libs::core::exception("Cannot start: " + *cause + ": " + current_error_text() +
                                                " (MariaDB error " + std::to_string(number) + ")",
                                            _where);
            const std::string error = libs::core::exception_to_string();
            if (_report)
                _report(error, current_failure_kind());
            else
                failures.failed(_logger, error);
        }
        if (_signals.signal_is_received()) throw libs::core::exception("Interrupted", _where);
        wait_unless_signalled(_signals, retry_interval);
    }
}

void wait_unless_signalled(const libs::core::events_loop::signals_handle& _signals,
                           std::chrono::milliseconds _interval)
{
    const auto until = std::chrono::steady_clock::now() + _interval;
    while (!_signals.signal_is_received() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(signal_poll_interval);
}

}  // namespace zav
