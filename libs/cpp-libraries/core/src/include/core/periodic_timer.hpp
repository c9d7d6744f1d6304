#pragma once

#include <chrono>
#include <memory>

namespace zav::libs::core {

// A timer that ticks every period on a fixed phase: the ticks are due at
// start + k * period. Ticks missed while the loop was busy are skipped, not
// made up; the callback receives the deadline of the tick it runs for. The
// timer is re-armed before its callback runs, so a callback that throws (the
// exception leaves the loop's run()) does not stop it, and the callback may
// call stop(), restart() or reset() of its own timer.
// Not synchronised: use it on the loop's thread only, and destroy it before
// the loop. Destroying the handle cancels the timer.
class periodic_timer
{
public:
    using ptr = std::unique_ptr<periodic_timer>;
    // Selects the factory overload whose first tick runs at the loop's next
    // turn instead of one period after creation.
    struct execute_now
    {
    };

    virtual ~periodic_timer() = default;

    // Stores the new period and restarts. Throws exception when _period is
    // not positive; the timer is then left as it was.
    virtual void reset(std::chrono::nanoseconds _period) = 0;
    // No further ticks until restart() or reset().
    virtual void stop() = 0;
    // Starts a new phase: the next tick is one period from now.
    virtual void restart() = 0;
    // A tick runs at the loop's next turn and the phase moves to that instant.
    // Does nothing on a stopped timer.
    virtual void expire_now() = 0;
};

}  // namespace zav::libs::core
