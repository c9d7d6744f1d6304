#pragma once

#include "core/component_logger.hpp"
#include "core/events_loop.hpp"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace zav::libs::core {

// Waits for SIGINT and SIGTERM on a thread of its own, which runs a private
// loop. The first of them sets the flag and stops both loops; the wait is not
// renewed, so once the thread has ended a further signal has its default
// effect.
class signals_handle_impl final : public events_loop::signals_handle
{
public:
    // Returns once the signals are caught, so that a signal sent right after
    // construction sets the flag instead of ending the process.
    signals_handle_impl(events_loop::ptr _thread_events_loop, events_loop& _main_events_loop,
                        const component_logger& _logger);
    // Stops the private loop and joins the thread, whether or not a signal
    // came.
    ~signals_handle_impl() override;

    bool signal_is_received() const override;

private:
    void thread_function();
    // Tells the constructor that the signals are caught (or could not be).
    void report_armed();

    events_loop::ptr m_thread_events_loop;
    events_loop& m_main_events_loop;
    std::atomic<bool> m_signal_is_received{false};
    const component_logger& m_logger;
    // Members rather than locals of the constructor, so that the thread may
    // still be inside report_armed() when the constructor returns.
    std::mutex m_armed_mutex;
    std::condition_variable m_armed_condition;
    bool m_armed = false;
    std::thread m_thread;
};

}  // namespace zav::libs::core
