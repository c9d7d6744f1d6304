#include "store/retry_until_signalled.hpp"

#include "store/inconsistent_state_error.hpp"

#include "core/exception.hpp"

#include <chrono>
#include <exception>
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
                           const libs::core::source_location& _where, const std::function<void()>& _attempt)
{
    for (;;) {
        std::exception_ptr hopeless;
        const bool done = _logger.execute([&] {
            try {
                _attempt();
            } catch (const inconsistent_state_error&) {
                hopeless = std::current_exception();
            }
        });
        if (hopeless) std::rethrow_exception(hopeless);
        if (done) return;
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
