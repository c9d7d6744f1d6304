// The read-only reader of the daemon's work beside the writer, on a
// connection of its own to the private server: the backlog behind the newest
// written time, and windows.

#include "store/window_reader_impl.hpp"
#include "store/node_accounts.hpp"

#include "core/exception.hpp"
#include "core/logger.hpp"

#include <gtest/gtest.h>

#include "support/mariadb_test_server.hpp"

namespace {

using namespace std::chrono_literals;
using trackmend_test::mariadb_test_server;
using zav::libs::core::timestamp;

std::unique_ptr<zav::window_reader_impl> reader_of(const mariadb_test_server& _server, unsigned _port)
{
    static const zav::libs::core::logger logger("trackmend_test", "main");
    return zav::window_reader_impl::connect(
        zav::node_accounts({{_server.host, _port}}, _server.user, _server.password, _server.schema,
                           std::nullopt),
        logger, true);
}

TEST(WindowReaderTest, BacklogCountsLaterRowsAndFindsTheNewestOrSaysNothing)
{
    const auto server = mariadb_test_server::from_environment();
    if (!server) GTEST_SKIP() << mariadb_test_server::skip_message;
    const auto connection = server->connect();
    connection->execute("TRUNCATE TABLE positions_raw");
    auto reader = reader_of(*server, server->port);

    const timestamp noon(std::chrono::milliseconds(1'714'564'800'000));  // 2024-05-01 12:00:00
    auto empty = reader->backlog_after(noon);
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->rows, 0u);
    EXPECT_FALSE(empty->newest_raw);

    // The written time keeps milliseconds only: a raw row 0.4 ms after it is
    // the one written, not a later one.
    connection->execute(
        "INSERT INTO positions_raw (trackable_id, trackable_uid, ts, type) VALUES "
        "(1, 'A', '2024-05-01 11:59:59.000', 'UWB'), (1, 'A', '2024-05-01 12:00:00.000400', 'UWB'), "
        "(1, 'A', '2024-05-01 12:00:00.001', 'UWB'), (1, 'A', '2024-05-01 12:00:05.000', 'HB'), "
        "(1, 'A', '2024-05-01 12:01:30.250', 'UWB')");
    const auto behind = reader->backlog_after(noon);
    ASSERT_TRUE(behind);
    EXPECT_EQ(behind->rows, 3u) << "heartbeats count: only the time index is walked";
    EXPECT_FALSE(behind->estimated);
    EXPECT_TRUE(behind->newest_raw == noon + 90250ms);
    connection->execute("TRUNCATE TABLE positions_raw");

    EXPECT_FALSE(reader_of(*server, 1)->backlog_after(noon)) << "no answer is no report, never an exception";
}

// On a connection of its own the reader reads what the store's windows read,
// stores a 4-byte character unchanged (its sessions use utf8mb4) and throws a
// located error when the server cannot be reached.
TEST(WindowReaderTest, ReadsWindowsOnAConnectionOfItsOwn)
{
    const auto server = mariadb_test_server::from_environment();
    if (!server) GTEST_SKIP() << mariadb_test_server::skip_message;
    const auto connection = server->connect();
    connection->execute("TRUNCATE TABLE positions_raw");
    connection->execute(
        "INSERT INTO positions_raw (trackable_id, trackable_uid, ts, x, y, type) VALUES "
        "(1, 'A\xF0\x9F\x9A\x9C', '2024-05-01 12:00:00.500', 1, 2, 'UWB'), (1, 'B', '2024-05-01 "
        "12:00:01.000', 3, "
        "4, 'HB'), (1, 'C', '2024-05-01 12:00:02.000', 5, 6, 'UWB'), (1, 'C', '2024-05-01 12:00:03.000', 5, "
        "6, "
        "'UWB')");
    const timestamp noon(std::chrono::milliseconds(1'714'564'800'000));
    auto reader = reader_of(*server, server->port);
    const auto window = reader->get_raw_positions(noon, 10s);
    ASSERT_EQ(window.size(), 2u) << "heartbeats and the last row's second are left out";
    EXPECT_EQ(window[0].trackable_uid, "A\xF0\x9F\x9A\x9C");
    EXPECT_EQ(window[1].trackable_uid, "C");
    connection->execute("TRUNCATE TABLE positions_raw");
    EXPECT_THROW(reader_of(*server, 1)->get_raw_positions(noon, 10s), zav::libs::core::located_exception);
}

}  // namespace
