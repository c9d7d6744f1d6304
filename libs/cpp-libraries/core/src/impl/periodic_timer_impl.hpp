#pragma once

#include "core/periodic_timer.hpp"
#include "core/timers_manager.hpp"

#include <memory>
#include <string>

namespace zav::libs::core {

// Ticks on the grid start + k * period through one one-shot timer that each
// tick re-arms for the first grid point after the current time.
class periodic_timer_impl final : public periodic_timer
{
public:
    // Throws exception when _period is not positive. _timers_manager must
    // outlive the timer.
    periodic_timer_impl(timers_manager& _timers_manager, std::string _name, std::chrono::nanoseconds _period,
                        timer::callback _callback, bool _execute_now);

    void reset(std::chrono::nanoseconds _period) override;
    void stop() override;
    void restart() override;
    void expire_now() override;

private:
    void restart_impl();
    void tick(timer::time_point _deadline, const timer::callback& _callback);

    std::string m_name;
    timers_manager& m_timers_manager;
    timer::ptr m_timer;
    std::chrono::nanoseconds m_period;
    // The tick function holds it weakly: once this timer is gone, a tick that
    // was already queued does nothing.
    std::shared_ptr<timer::callback> m_callback;
};

}  // namespace zav::libs::core
