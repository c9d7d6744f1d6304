#pragma once

#include "core/component_logger.hpp"
#include "core/core.hpp"
#include "core/events_loop.hpp"
#include "core/timers_manager.hpp"

#include <boost/asio/io_context.hpp>

#include <memory>

namespace zav::libs::core {

class events_loop_impl final : public events_loop
{
public:
    // _core and _logger must outlive the loop.
    events_loop_impl(core& _core, const component_logger& _logger);
    // Lets the completions still outstanding (for instance those of waits
    // cancelled during shutdown) run, for at most 10 seconds, before the
    // timers manager and the io_context go away.
    ~events_loop_impl() override;

    void run() override;
    void run_catch_exceptions(source_location _where) override;
    void stop() override;
    bool is_stopped() const override;

    signals_handle::ptr stop_on_signals() override;

    timers_manager& get_timers() override;
    timer::ptr create_timer(timer::time_point _time_point, const std::string& _name,
                            timer::callback _callback, source_location _location) override;
    periodic_timer::ptr create_periodic_timer(std::chrono::nanoseconds _period, const std::string& _name,
                                              timer::callback _callback, source_location _location) override;
    periodic_timer::ptr create_periodic_timer(std::chrono::nanoseconds _period, periodic_timer::execute_now,
                                              const std::string& _name, timer::callback _callback,
                                              source_location _location) override;

    void post(std::function<void()> _handler, source_location _location) override;
    work::ptr create_work() override;

    boost::asio::io_context& get_io_context() override;
    const boost::asio::io_context& get_io_context() const override;

private:
    void drain();

    core& m_core;
    boost::asio::io_context m_io_context;
    const component_logger& m_logger;
    std::unique_ptr<timers_manager> m_timers;
};

}  // namespace zav::libs::core
