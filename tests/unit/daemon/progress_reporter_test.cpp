// The operator's view of a run, with a hand-driven clock: which lines the log
// gets and how often, and what the service manager is told.

#include "daemon/progress_reporter.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/log_capture.hpp"

namespace {

using namespace std::chrono_literals;
using zav::libs::core::timestamp;

class recording_notifier : public zav::service_notifier
{
public:
    void ready() override { events.push_back("READY"); }
    void status(const std::string& _text) override { events.push_back("STATUS=" + _text); }
    void watchdog() override { events.push_back("WATCHDOG"); }
    void stopping() override { events.push_back("STOPPING"); }
    std::chrono::microseconds watchdog_interval() const override { return {}; }

    std::vector<std::string> statuses() const
    {
        std::vector<std::string> result;
        for (const auto& e : events)
            if (e.rfind("STATUS=", 0) == 0) result.push_back(e.substr(7));
        return result;
    }
    std::vector<std::string> events;
};

class fixed_backlog : public zav::backlog_source
{
public:
    boost::optional<zav::backlog> backlog_after(timestamp _newest_written) noexcept override
    {
        return zav::backlog{5'300'000, _newest_written + 90s, true};
    }
};

const timestamp start_time(std::chrono::milliseconds(1'714'564'800'000));  // 2024-05-01 12:00:00

class ProgressReporterTest : public ::testing::Test
{
protected:
    zav::progress_clocks clocks()
    {
        return {[this] { return m_steady; }, [this] { return m_wall; }};
    }
    void advance(std::chrono::milliseconds _by)
    {
        m_steady += _by;
        m_wall += _by;
    }
    // Log lines received, without the "&trackmend:main " prefix.
    std::vector<std::string> lines()
    {
        std::vector<std::string> result;
        while (auto line = m_socket.receive(200ms)) {
            const auto blank = line->find(' ');
            result.push_back(line->substr(blank + 1 + 24));
        }
        return result;
    }

    zav::libs::core::logger m_logger{"trackmend", "main"};
    trackmend_test::log_socket m_socket{m_logger};
    recording_notifier m_notifier;
    fixed_backlog m_backlog;
    std::chrono::steady_clock::time_point m_steady{};
    timestamp m_wall = start_time;
};

TEST_F(ProgressReporterTest, CatchUpReportsAtMostOncePerIntervalThenCaughtUp)
{
    zav::progress_reporter reporter(m_logger, m_notifier, &m_backlog, {}, clocks());
    reporter.run_started();
    // 25 pieces of 1000 raw rows, one per second, each ending 100 s before now.
    for (int i = 0; i < 25; ++i) {
        advance(1s);
        reporter.piece_moved({1000, 900, m_wall - 100s});
    }
    advance(500ms);
    reporter.run_succeeded();
    const auto written = lines();
    ASSERT_EQ(written.size(), 3u) << ::testing::PrintToString(written);
    EXPECT_EQ(written[0],
              "Catching up: 10000 raw rows moved, newest written 2024-05-01 11:58:30.000, 1000 rows/s, "
              "90.0 s behind the newest raw row");
    EXPECT_EQ(written[1].substr(0, 34), "Catching up: 10000 raw rows moved,");
    EXPECT_EQ(written[2], "caught up; lag 100.5 s");
    EXPECT_EQ(m_notifier.statuses(),
              (std::vector<std::string>{"catching up: about 5.3 M rows behind, 1.0 k rows/s",
                                        "catching up: about 5.3 M rows behind, 1.0 k rows/s",
                                        "live: lag 100.5 s"}));

    // Live: short runs say nothing in the log, only the status follows.
    for (int i = 0; i < 30; ++i) {
        reporter.run_started();
        advance(1s);
        reporter.piece_moved({50, 50, m_wall - 11400ms});
        reporter.run_succeeded();
    }
    EXPECT_TRUE(lines().empty());
    EXPECT_EQ(m_notifier.statuses().back(), "live: lag 11.4 s");
}

TEST_F(ProgressReporterTest, RepeatedFailureIsLoggedOnceThenRemindedOncePerInterval)
{
    zav::progress_reporter reporter(m_logger, m_notifier, nullptr, {}, clocks());
    reporter.run_started();
    reporter.run_succeeded();
    EXPECT_EQ(lines(), std::vector<std::string>{"caught up; nothing written yet"}) << "the first run says so";

    const std::string error = "database_impl.cpp:88 Can't connect to server on '10.0.0.1' (111)\nsecond line";
    for (int i = 0; i < 150; ++i) {
        reporter.run_started();
        reporter.run_failed(error, zav::store_failure::session_lost);
        advance(1s);
    }
    EXPECT_EQ(lines(), (std::vector<std::string>{
                           error,
                           "Still failing: 61 failed attempts since 2024-05-01 12:00:00.000, the last one: "
                           "database_impl.cpp:88 Can't connect to server on '10.0.0.1' (111)",
                           "Still failing: 121 failed attempts since 2024-05-01 12:00:00.000, the last one: "
                           "database_impl.cpp:88 Can't connect to server on '10.0.0.1' (111)"}));
    EXPECT_EQ(m_notifier.statuses().back(), "database unreachable since 12:00:00, retrying");

    reporter.run_started();
    reporter.run_succeeded();
    EXPECT_EQ(lines(), std::vector<std::string>{
                           "Working again after 150 failed attempts since 2024-05-01 12:00:00.000"});

    // A new series starts over with the full error; other errors are named
    // in the status, whatever their words say.
    reporter.run_failed("duplicate key; Lost connection in the text", zav::store_failure::refused);
    EXPECT_EQ(lines(), std::vector<std::string>{"duplicate key; Lost connection in the text"});
    EXPECT_EQ(m_notifier.statuses().back(),
              "failing since 12:02:30 (1 attempts), retrying: duplicate key; Lost connection in the text");
}

TEST_F(ProgressReporterTest, WatchdogPingsAreRateLimited)
{
    zav::progress_reporter reporter(m_logger, m_notifier, nullptr, {10s, 60s, 1s}, clocks());
    for (int i = 0; i < 10; ++i) {
        reporter.keep_alive();
        advance(300ms);
    }
    // At 0, 1.2 and 2.4 s.
    EXPECT_EQ(std::count(m_notifier.events.begin(), m_notifier.events.end(), "WATCHDOG"), 3);
}

TEST(ShortCountTest, StatusLineCounts)
{
    EXPECT_EQ(zav::short_count(0), "0");
    EXPECT_EQ(zav::short_count(950), "950");
    EXPECT_EQ(zav::short_count(1234), "1.2 k");
    EXPECT_EQ(zav::short_count(48'123), "48 k");
    EXPECT_EQ(zav::short_count(999'999), "1.0 M");
    EXPECT_EQ(zav::short_count(1'234'567), "1.2 M");
}

}  // namespace
