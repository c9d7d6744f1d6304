#include "core/core.hpp"
#include "core/events_loop.hpp"
#include "core/logger.hpp"
#include "core/periodic_timer.hpp"
#include "core/timer.hpp"
#include "core/timers_manager.hpp"

#include "support/log_capture.hpp"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using namespace zav::libs::core;
using namespace std::chrono_literals;

namespace {

using deadlines = std::vector<timer::time_point>;

class TimersTest : public ::testing::Test
{
protected:
    logger m_log{"trackmend", "main"};
    trackmend_test::log_socket m_socket{m_log};
    deadlines m_calls;  // what the callbacks received; outlives the loop
    core::ptr m_core = core::create(m_log);
    events_loop::ptr m_loop = m_core->create_events_loop("main");

    // A fresh loop; the caller first drops the timers of the old one.
    void restart(const char* _name)
    {
        m_calls.clear();
        m_loop = m_core->create_events_loop(_name);
    }

    timer::time_point now() const { return m_loop->get_timers().current_time_point(); }

    timer::ptr recording_timer(timer::time_point _deadline)
    {
        return m_loop->create_timer(
            _deadline, "t", [this](timer::time_point _d) { m_calls.push_back(_d); }, CORE_SOURCE_LOCATION);
    }
    timer::ptr timer_at(timer::time_point _deadline, std::function<void()> _action)
    {
        return m_loop->create_timer(
            _deadline, "action", [_action](timer::time_point) { _action(); }, CORE_SOURCE_LOCATION);
    }
};

}  // namespace

TEST_F(TimersTest, OneShotRunsOnlyForTheDeadlineItIsArmedFor)
{
    const auto second = now() + 40ms;
    auto t = recording_timer(now() + 20ms);
    EXPECT_TRUE(t->is_waiting());
    t->reset(second);
    bool waiting_after_cancelled_completion = false;
    m_loop->post([&] { waiting_after_cancelled_completion = t->is_waiting(); }, CORE_SOURCE_LOCATION);
    m_loop->run();
    EXPECT_EQ(m_calls, deadlines{second}) << "a reset replacing a pending wait: one call, new deadline";
    EXPECT_TRUE(waiting_after_cancelled_completion)
        << "the replaced wait's completion leaves the new one pending";
    EXPECT_FALSE(t->is_waiting());

    const auto past = now() - 1s;
    t.reset();
    restart("late");
    t = recording_timer(past);
    m_loop->run();
    EXPECT_EQ(m_calls, deadlines{past}) << "a past deadline fires at the next turn, with that deadline";

    t.reset();
    restart("stop");
    t = recording_timer(now() + 10ms);
    t->stop();
    EXPECT_FALSE(t->is_waiting());
    m_loop->run();  // only the cancelled wait's completion is left
    t.reset();
    EXPECT_TRUE(m_calls.empty());
    EXPECT_TRUE(m_socket.is_quiet()) << "cancelled waits log nothing";
}

TEST_F(TimersTest, ACompletionAlreadyQueuedDoesNothingOnceReplacedOrDestroyed)
{
    // Both deadlines have passed when run() starts, so both completions are
    // queued together; the earlier one acts on the later one's timer.
    const auto start = now();
    auto target = recording_timer(start - 1ms);
    auto mover = timer_at(start - 2ms, [&] { target->reset(start + 20ms); });
    m_loop->run();
    EXPECT_EQ(m_calls, deadlines{start + 20ms});

    target.reset(), mover.reset();
    restart("same");
    target = recording_timer(start - 1ms);
    mover = timer_at(start - 2ms, [&] { target->reset(start - 1ms); });
    m_loop->run();
    EXPECT_EQ(m_calls, deadlines{start - 1ms}) << "re-armed for the same deadline: still one call";

    target.reset(), mover.reset();
    restart("destroyed");
    target = recording_timer(start - 1ms);
    mover = timer_at(start - 2ms, [&] { target.reset(); });
    m_loop->run();
    EXPECT_TRUE(m_calls.empty()) << "destroyed with its completion queued";
    mover.reset();
}

TEST_F(TimersTest, PeriodicTimerKeepsItsPhase)
{
    const auto period = 20ms;
    const auto before = now();
    periodic_timer::ptr p;
    p = m_loop->create_periodic_timer(
        period, periodic_timer::execute_now{}, "p",
        [&](timer::time_point _d) {
            m_calls.push_back(_d);
            if (m_calls.size() == 3) p->stop();  // destroys the firing one-shot timer
        },
        CORE_SOURCE_LOCATION);
    const auto after = now();
    m_loop->run();  // returns once the stopped timer leaves no work
    ASSERT_EQ(m_calls.size(), 3u);
    EXPECT_TRUE(m_calls[0] >= before && m_calls[0] <= after)
        << "execute_now: first tick for the creation instant";
    EXPECT_EQ(m_calls[1] - m_calls[0], period);
    EXPECT_EQ(m_calls[2] - m_calls[0], 2 * period);

    // Without execute_now the first tick is one period after creation, and
    // reset() restarts with the new period.
    p.reset();
    restart("second");
    p = m_loop->create_periodic_timer(
        1h, "p",
        [&](timer::time_point _d) {
            m_calls.push_back(_d);
            m_loop->stop();
        },
        CORE_SOURCE_LOCATION);
    const auto reset_at = now();
    p->reset(period);
    m_loop->run();
    ASSERT_EQ(m_calls.size(), 1u);
    EXPECT_GE(m_calls[0] - reset_at, period);
    EXPECT_LT(m_calls[0] - reset_at, 1s);

    EXPECT_THROW(p->reset(0ns), zav::libs::core::exception) << "refused instead of dividing by zero";
    EXPECT_THROW(m_loop->create_periodic_timer(
                     -1s, "bad", [](timer::time_point) {}, CORE_SOURCE_LOCATION),
                 zav::libs::core::exception);
    p.reset();
}

TEST_F(TimersTest, MissedTicksAreSkippedNotMadeUp)
{
    const auto period = 20ms;
    periodic_timer::ptr p = m_loop->create_periodic_timer(
        period, periodic_timer::execute_now{}, "p",
        [&](timer::time_point _d) {
            m_calls.push_back(_d);
            if (m_calls.size() == 1) std::this_thread::sleep_for(110ms);
            if (m_calls.size() == 3) p->stop();
        },
        CORE_SOURCE_LOCATION);
    m_loop->run();
    ASSERT_EQ(m_calls.size(), 3u);
    // The tick of 20 ms was armed before the busy callback and runs late, with
    // its own deadline; the next one is the first grid point after that.
    EXPECT_EQ(m_calls[1] - m_calls[0], period);
    EXPECT_EQ((m_calls[2] - m_calls[1]) % period, 0ns) << "ticks stay on the grid";
    EXPECT_GE(m_calls[2] - m_calls[0], 6 * period)
        << "the ticks of 40 to 100 ms are skipped, not run in a burst";
}

TEST_F(TimersTest, PeriodicCallbackMayThrowOrDestroyItsTimer)
{
    int ticks = 0;
    periodic_timer::ptr p;
    p = m_loop->create_periodic_timer(
        10ms, periodic_timer::execute_now{}, "p",
        [&](timer::time_point) {
            if (++ticks == 1) throw std::runtime_error("tick failed");
            p.reset();
        },
        CORE_SOURCE_LOCATION);
    EXPECT_THROW(m_loop->run(), std::runtime_error);
    m_loop->run();  // the timer stayed armed; the second tick destroys it
    EXPECT_EQ(ticks, 2);
    EXPECT_FALSE(p);
}
