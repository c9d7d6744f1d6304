#include "timers_manager_impl.hpp"

#include "periodic_timer_impl.hpp"
#include "timer_impl.hpp"

namespace zav::libs::core {

timers_manager_impl::timers_manager_impl(events_loop& _events_loop, const component_logger& _logger)
    : m_events_loop(_events_loop), m_logger(_logger)
{
}

timer::time_point timers_manager_impl::current_time_point() const { return std::chrono::steady_clock::now(); }

timestamp timers_manager_impl::current_timestamp() const { return timestamp::current_time(); }

timer::ptr timers_manager_impl::create_timer(std::chrono::nanoseconds _delay, const std::string& _name,
                                             timer::callback _callback, source_location _location)
{
    return create_timer(current_time_point() + _delay, _name, std::move(_callback), _location);
}

timer::ptr timers_manager_impl::create_timer(timer::time_point _time_point, const std::string& /*_name*/,
                                             timer::callback _callback, source_location /*_location*/)
{
    auto result =
        std::make_unique<timer_impl>(m_events_loop.get_io_context(), m_logger, std::move(_callback));
    result->reset(_time_point);
    return result;
}

periodic_timer::ptr timers_manager_impl::create_periodic_timer(std::chrono::nanoseconds _period,
                                                               const std::string& _name,
                                                               timer::callback _callback,
                                                               source_location /*_location*/)
{
    return std::make_unique<periodic_timer_impl>(*this, _name, _period, std::move(_callback), false);
}

periodic_timer::ptr timers_manager_impl::create_periodic_timer(std::chrono::nanoseconds _period,
                                                               periodic_timer::execute_now,
                                                               const std::string& _name,
                                                               timer::callback _callback,
                                                               source_location /*_location*/)
{
    return std::make_unique<periodic_timer_impl>(*this, _name, _period, std::move(_callback), true);
}

}  // namespace zav::libs::core
