#include "periodic_timer_impl.hpp"

#include "core/exception.hpp"

namespace zav::libs::core {

namespace {

std::chrono::nanoseconds checked_period(std::chrono::nanoseconds _period, const source_location& _where)
{
    // The tick divides by the period.
    if (_period <= std::chrono::nanoseconds::zero())
        throw exception(
            "Period of a periodic timer must be positive, got " + std::to_string(_period.count()) + " ns",
            _where);
    return _period;
}

}  // namespace

periodic_timer_impl::periodic_timer_impl(timers_manager& _timers_manager, std::string _name,
                                         std::chrono::nanoseconds _period, timer::callback _callback,
                                         bool _execute_now)
    : m_name(std::move(_name)),
      m_timers_manager(_timers_manager),
      m_period(checked_period(_period, CORE_SOURCE_LOCATION)),
      m_callback(std::make_shared<timer::callback>(std::move(_callback)))
{
    restart_impl();
    if (_execute_now) m_timer->reset(m_timers_manager.current_time_point());
}

void periodic_timer_impl::reset(std::chrono::nanoseconds _period)
{
    m_period = checked_period(_period, CORE_SOURCE_LOCATION);
    restart();
}

void periodic_timer_impl::stop() { m_timer.reset(); }

void periodic_timer_impl::restart() { restart_impl(); }

void periodic_timer_impl::expire_now()
{
    if (m_timer) m_timer->reset(m_timers_manager.current_time_point());
}

void periodic_timer_impl::restart_impl()
{
    std::weak_ptr<timer::callback> weak_callback = m_callback;
    auto tick_function = [this, weak_callback](timer::time_point _deadline) {
        // The lock keeps the user's callback alive even if it destroys this
        // periodic timer while it runs.
        if (const auto callback = weak_callback.lock()) tick(_deadline, *callback);
    };
    // Destroying the previous one-shot timer cancels its wait.
    m_timer = m_timers_manager.create_timer(m_timers_manager.current_time_point() + m_period, m_name,
                                            std::move(tick_function), source_location());
}

void periodic_timer_impl::tick(timer::time_point _deadline, const timer::callback& _callback)
{
    const auto now = m_timers_manager.current_time_point();
    const auto late = now > _deadline ? now - _deadline : std::chrono::nanoseconds::zero();
    // The first grid point after now: missed ticks are skipped, the phase is
    // kept.
    const auto next = _deadline + m_period * (late / m_period + 1);
    // Re-armed before the callback, so that a callback that throws or takes
    // longer than the period leaves the timer running; the callback may stop,
    // restart or reset it.
    m_timer->reset(next);
    // Nothing of this object may be touched after the call: the callback may
    // have destroyed it.
    _callback(_deadline);
}

}  // namespace zav::libs::core
