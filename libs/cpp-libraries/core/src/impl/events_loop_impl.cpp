#include "events_loop_impl.hpp"

#include "signals_handle_impl.hpp"
#include "timers_manager_impl.hpp"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/post.hpp>

#include <chrono>

namespace zav::libs::core {

namespace {

constexpr auto drain_deadline = std::chrono::seconds(10);

class work_impl final : public events_loop::work
{
public:
    explicit work_impl(boost::asio::io_context& _io_context) : m_guard(_io_context.get_executor()) {}

private:
    boost::asio::executor_work_guard<boost::asio::io_context::executor_type> m_guard;
};

}  // namespace

events_loop_impl::events_loop_impl(core& _core, const component_logger& _logger)
    : m_core(_core), m_logger(_logger), m_timers(std::make_unique<timers_manager_impl>(*this, _logger))
{
}

events_loop_impl::~events_loop_impl() { drain(); }

void events_loop_impl::drain()
{
    const auto deadline = std::chrono::steady_clock::now() + drain_deadline;
    m_io_context.restart();
    // A handler that throws here must not leave the destructor; it is logged
    // and draining goes on with the rest.
    while (!m_io_context.stopped() && std::chrono::steady_clock::now() < deadline) {
        try {
            m_io_context.run_until(deadline);
        } catch (...) {
            m_logger.log_exception(CORE_SOURCE_LOCATION);
        }
    }
}

void events_loop_impl::run() { m_io_context.run(); }

void events_loop_impl::run_catch_exceptions(source_location _where)
{
    for (;;) {
        try {
            run();
            return;
        } catch (...) {
            m_logger.log_exception(_where);
        }
    }
}

void events_loop_impl::stop() { m_io_context.stop(); }

bool events_loop_impl::is_stopped() const { return m_io_context.stopped(); }

events_loop::signals_handle::ptr events_loop_impl::stop_on_signals()
{
    return std::make_unique<signals_handle_impl>(m_core.create_events_loop("stop_on_signals"), *this,
                                                 m_logger);
}

timers_manager& events_loop_impl::get_timers() { return *m_timers; }

timer::ptr events_loop_impl::create_timer(timer::time_point _time_point, const std::string& _name,
                                          timer::callback _callback, source_location _location)
{
    return m_timers->create_timer(_time_point, _name, std::move(_callback), _location);
}

periodic_timer::ptr events_loop_impl::create_periodic_timer(std::chrono::nanoseconds _period,
                                                            const std::string& _name,
                                                            timer::callback _callback,
                                                            source_location _location)
{
    return m_timers->create_periodic_timer(_period, _name, std::move(_callback), _location);
}

periodic_timer::ptr events_loop_impl::create_periodic_timer(std::chrono::nanoseconds _period,
                                                            periodic_timer::execute_now _execute_now,
                                                            const std::string& _name,
                                                            timer::callback _callback,
                                                            source_location _location)
{
    return m_timers->create_periodic_timer(_period, _execute_now, _name, std::move(_callback), _location);
}

void events_loop_impl::post(std::function<void()> _handler, source_location /*_location*/)
{
    boost::asio::post(m_io_context, std::move(_handler));
}

events_loop::work::ptr events_loop_impl::create_work() { return std::make_unique<work_impl>(m_io_context); }

boost::asio::io_context& events_loop_impl::get_io_context() { return m_io_context; }

const boost::asio::io_context& events_loop_impl::get_io_context() const { return m_io_context; }

}  // namespace zav::libs::core
