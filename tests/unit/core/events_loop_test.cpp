#include "core/events_loop.hpp"
#include "core/core.hpp"
#include "core/logger.hpp"

#include "support/log_capture.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <stdexcept>
#include <thread>
#include <vector>

using namespace zav::libs::core;
using namespace std::chrono_literals;

namespace {

// Polls _condition for at most five seconds.
bool eventually(const std::function<bool()>& _condition)
{
    for (auto until = std::chrono::steady_clock::now() + 5s; !_condition(); std::this_thread::sleep_for(1ms))
        if (std::chrono::steady_clock::now() > until) return false;
    return true;
}

class EventsLoopTest : public ::testing::Test
{
protected:
    logger m_log{"trackmend", "main"};
    trackmend_test::log_socket m_socket{m_log};
    std::vector<int> m_order;  // outlives the loop, so queued handlers may use it
    core::ptr m_core = core::create(m_log);
    events_loop::ptr m_loop = m_core->create_events_loop("main");

    void post(int _value)
    {
        m_loop->post([this, _value] { m_order.push_back(_value); }, CORE_SOURCE_LOCATION);
    }
};

}  // namespace

TEST_F(EventsLoopTest, RunStopPostAndWork)
{
    m_loop->run();  // no work: returns at once
    EXPECT_TRUE(m_loop->is_stopped()) << "a loop that ran out of work is stopped";
    post(1);
    m_loop->run();
    EXPECT_TRUE(m_order.empty()) << "a stopped loop is never restarted";

    m_loop = m_core->create_events_loop("second");
    EXPECT_EQ(m_order, std::vector<int>{1}) << "destroying a loop runs what is still queued";
    m_order.clear();
    auto work = m_loop->create_work();
    std::thread other([&] {
        post(1);
        post(2);
        m_loop->post([&] { work.reset(); }, CORE_SOURCE_LOCATION);
    });
    m_loop->run();  // held by the work handle until the last handler drops it
    other.join();
    EXPECT_EQ(m_order, (std::vector<int>{1, 2})) << "handlers run in posting order, also from another thread";

    m_loop = m_core->create_events_loop("third");
    m_loop->stop();
    post(3);
    m_loop->run();
    EXPECT_EQ(m_order.size(), 2u) << "run() after stop() returns at once";
    m_loop.reset();
    EXPECT_EQ(m_order.back(), 3);
    EXPECT_TRUE(m_socket.is_quiet());
}

TEST_F(EventsLoopTest, HandlerExceptionsLeaveRunOrAreLogged)
{
    m_loop->post([] { throw std::runtime_error("boom"); }, CORE_SOURCE_LOCATION);
    post(1);
    EXPECT_THROW(m_loop->run(), std::runtime_error);
    EXPECT_TRUE(m_order.empty());
    m_loop->run();
    EXPECT_EQ(m_order, std::vector<int>{1}) << "run() again continues with the remaining work";

    m_loop = m_core->create_events_loop("catching");
    m_loop->post([] { throw std::runtime_error("boom"); }, CORE_SOURCE_LOCATION);
    post(2);
    const auto where = CORE_SOURCE_LOCATION;
    m_loop->run_catch_exceptions(where);
    EXPECT_EQ(m_order, (std::vector<int>{1, 2}));
    EXPECT_EQ(m_socket.next(), "&trackmend:main " + std::string(where.short_file()) + ":" +
                                   std::to_string(where.line()) + " Caught exeption");
    EXPECT_EQ(m_socket.next(), "&trackmend:core std::exception::what(): boom");
    EXPECT_TRUE(m_socket.is_quiet()) << "exactly one pair of lines";
}

TEST_F(EventsLoopTest, DestructionRunsCancelledCompletionsWithoutWaiting)
{
    int calls = 0;
    m_loop->create_timer(
        m_loop->get_timers().current_time_point() + 1h, "t", [&](timer::time_point) { ++calls; },
        CORE_SOURCE_LOCATION);  // destroyed at once: its wait is cancelled
    const auto start = std::chrono::steady_clock::now();
    m_loop.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s) << "nothing outstanding, so no waiting";
    EXPECT_EQ(calls, 0);
    EXPECT_TRUE(m_socket.is_quiet()) << "a cancelled wait is silent";
}

TEST_F(EventsLoopTest, SignalsStopTheLoopAndSetTheFlag)
{
    // SIGTERM while the loop waits.
    auto signals = m_loop->stop_on_signals();
    EXPECT_FALSE(signals->signal_is_received());
    auto work = m_loop->create_work();
    auto sender = m_loop->create_timer(
        m_loop->get_timers().current_time_point() + 20ms, "sender",
        [](timer::time_point) { ::kill(::getpid(), SIGTERM); }, CORE_SOURCE_LOCATION);
    m_loop->run();  // returns only because the signal stopped it
    EXPECT_TRUE(signals->signal_is_received());
    sender.reset();
    work.reset();
    signals.reset();

    // SIGINT right after the handle exists, before run(): caught, not fatal.
    m_loop = m_core->create_events_loop("second");
    signals = m_loop->stop_on_signals();
    ::kill(::getpid(), SIGINT);
    work = m_loop->create_work();
    m_loop->run();
    EXPECT_TRUE(signals->signal_is_received());
    work.reset();
    signals.reset();
    EXPECT_TRUE(m_socket.is_quiet());
}

TEST_F(EventsLoopTest, LongHandlerSeesTheSignalAndRunReturnsAfterIt)
{
    auto signals = m_loop->stop_on_signals();
    bool seen_by_handler = false;
    auto work = m_loop->create_work();
    m_loop->post(
        [&] {
            ::kill(::getpid(), SIGTERM);
            seen_by_handler = eventually([&] { return signals->signal_is_received(); });
            // The signal thread stops the loop while this handler still runs.
            eventually([&] { return m_loop->is_stopped(); });
        },
        CORE_SOURCE_LOCATION);
    post(1);
    m_loop->run();
    EXPECT_TRUE(seen_by_handler) << "the flag is set while the handler runs";
    EXPECT_TRUE(m_order.empty()) << "the loop stops after the handler in progress";
    work.reset();
}

TEST(EventsLoopDeathTest, SignalsHaveTheirDefaultEffectAgainWithoutAHandle)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            logger log("trackmend", "main");
            auto core = core::create(log);
            auto loop = core->create_events_loop("main");
            loop->stop_on_signals().reset();
            ::kill(::getpid(), SIGTERM);
            std::this_thread::sleep_for(5s);
            std::exit(0);
        },
        ::testing::KilledBySignal(SIGTERM), "");
}
