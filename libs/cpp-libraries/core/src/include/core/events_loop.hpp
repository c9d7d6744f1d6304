#pragma once

#include "core/periodic_timer.hpp"
#include "core/source_location.hpp"
#include "core/timer.hpp"
#include "core/timers_manager.hpp"

#include <boost/asio/io_context.hpp>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace zav::libs::core {

// A single-threaded event loop over a Boost.Asio io_context. Handlers (posted
// functions, timer callbacks) run one at a time inside run(), on the thread
// that calls it. Everything created on a loop (timers, work and signals
// handles) must be destroyed before the loop.
//
// Typical daemon use:
//
//     logger log("trackmend", "main");
//     auto core = core::create(log);
//     auto loop = core->create_events_loop("main");
//     auto signals = loop->stop_on_signals();   // SIGINT/SIGTERM stop `loop`
//     auto tick = loop->create_periodic_timer(std::chrono::seconds(5), "main_timer",
//                                             [&](timer::time_point) { work(*signals); },
//                                             source_location());
//     while (!log.execute([&] { loop->run(); })) {}
class events_loop
{
public:
    using ptr = std::unique_ptr<events_loop>;

    // Holds the loop's run() from returning for lack of work while it exists.
    class work
    {
    public:
        using ptr = std::unique_ptr<work>;
        virtual ~work() = default;
    };

    // Reports whether SIGINT or SIGTERM has arrived since stop_on_signals().
    // The first such signal sets the flag and stops the loop; long-running
    // work polls signal_is_received() to end early. Destroying the handle
    // joins its signal thread; after that (or after the first signal) the
    // two signals have their default effect again.
    class signals_handle
    {
    public:
        using ptr = std::unique_ptr<signals_handle>;
        virtual ~signals_handle() = default;
        // Safe from any thread.
        virtual bool signal_is_received() const = 0;
    };

    virtual ~events_loop() = default;

    // Runs handlers until the loop runs out of work or is stopped. An
    // exception thrown by a handler leaves run() unchanged; the loop stays
    // usable and run() may be called again to continue with the rest.
    virtual void run() = 0;
    // Calls run() until it returns normally, logging each exception that
    // leaves it ("Caught exeption" at _where, then the exception's text).
    virtual void run_catch_exceptions(source_location _where) = 0;
    // Makes a running run() return after the handler in progress; a stopped
    // loop is never restarted, a later run() returns at once. Any thread.
    virtual void stop() = 0;
    // Any thread.
    virtual bool is_stopped() const = 0;

    // Starts a signal thread that waits for SIGINT and SIGTERM and stops this
    // loop on the first of them. Keep the handle while signals are to stop
    // the loop.
    virtual signals_handle::ptr stop_on_signals() = 0;

    virtual timers_manager& get_timers() = 0;
    // Forward to get_timers().
    virtual timer::ptr create_timer(timer::time_point _time_point, const std::string& _name,
                                    timer::callback _callback, source_location _location) = 0;
    virtual periodic_timer::ptr create_periodic_timer(std::chrono::nanoseconds _period,
                                                      const std::string& _name, timer::callback _callback,
                                                      source_location _location) = 0;
    virtual periodic_timer::ptr create_periodic_timer(std::chrono::nanoseconds _period,
                                                      periodic_timer::execute_now, const std::string& _name,
                                                      timer::callback _callback,
                                                      source_location _location) = 0;

    // Queues _handler to run inside run(), after the handlers already queued.
    // Any thread.
    virtual void post(std::function<void()> _handler, source_location _location) = 0;
    virtual work::ptr create_work() = 0;

    virtual boost::asio::io_context& get_io_context() = 0;
    virtual const boost::asio::io_context& get_io_context() const = 0;
};

}  // namespace zav::libs::core
