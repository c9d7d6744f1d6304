#pragma once

#include "core/periodic_timer.hpp"
#include "core/source_location.hpp"
#include "core/timer.hpp"
#include "core/timestamp.hpp"

#include <chrono>
#include <string>

namespace zav::libs::core {

// Creates the timers of one events loop; their callbacks run on that loop's
// thread. Names and locations are accepted for the caller's documentation.
class timers_manager
{
public:
    virtual ~timers_manager() = default;

    // The steady clock's current time.
    virtual timer::time_point current_time_point() const = 0;
    // The wall-clock time, truncated to milliseconds.
    virtual timestamp current_timestamp() const = 0;

    // A one-shot timer armed for now + _delay, or for _time_point.
    virtual timer::ptr create_timer(std::chrono::nanoseconds _delay, const std::string& _name,
                                    timer::callback _callback, source_location _location) = 0;
    virtual timer::ptr create_timer(timer::time_point _time_point, const std::string& _name,
                                    timer::callback _callback, source_location _location) = 0;

    // A started periodic timer whose first tick is one period from now, or,
    // with execute_now, at the loop's next turn. Throws exception when
    // _period is not positive.
    virtual periodic_timer::ptr create_periodic_timer(std::chrono::nanoseconds _period,
                                                      const std::string& _name, timer::callback _callback,
                                                      source_location _location) = 0;
    virtual periodic_timer::ptr create_periodic_timer(std::chrono::nanoseconds _period,
                                                      periodic_timer::execute_now, const std::string& _name,
                                                      timer::callback _callback,
                                                      source_location _location) = 0;
};

}  // namespace zav::libs::core
