#pragma once

#include <chrono>
#include <functional>
#include <memory>

namespace zav::libs::core {

// A one-shot timer of an events loop. Its callback runs on the loop's thread,
// only for the deadline the timer is currently armed for: a wait replaced by
// reset() or cancelled by stop() or destruction never calls it.
// Not synchronised: use it on the loop's thread only, and destroy it before
// the loop.
class timer
{
public:
    using ptr = std::unique_ptr<timer>;
    // A point of the steady clock, nanosecond resolution.
    using time_point = std::chrono::time_point<std::chrono::steady_clock, std::chrono::nanoseconds>;
    // Receives the deadline it runs for, not the current time.
    using callback = std::function<void(time_point)>;

    virtual ~timer() = default;

    // True from reset() (or creation) until the completion of a wait of this
    // timer has run, including the completion of a wait that a later reset()
    // replaced; false after stop().
    virtual bool is_waiting() const = 0;
    // Replaces any pending wait by one for _time_point; a past deadline fires
    // at the loop's next turn.
    virtual void reset(time_point _time_point) = 0;
    // Cancels the pending wait; the callback will not run.
    virtual void stop() = 0;
};

}  // namespace zav::libs::core
