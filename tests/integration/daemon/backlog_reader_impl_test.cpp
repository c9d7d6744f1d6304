// The backlog behind the newest written time, read from the private server.

#include "daemon/backlog_reader_impl.hpp"
#include "store/node_accounts.hpp"

#include <gtest/gtest.h>

#include "support/mariadb_test_server.hpp"

namespace {

using namespace std::chrono_literals;
using trackmend_test::mariadb_test_server;
using zav::libs::core::timestamp;

TEST(BacklogReaderTest, CountsLaterRowsAndFindsTheNewestOrSaysNothing)
{
    const auto server = mariadb_test_server::from_environment();
    if (!server) GTEST_SKIP() << mariadb_test_server::skip_message;
    const auto connection = server->connect();
    connection->execute("TRUNCATE TABLE positions_raw");
    zav::backlog_reader_impl reader(zav::node_accounts({{server->host, server->port}}, server->user,
                                                       server->password, server->schema, std::nullopt));

    const timestamp noon(std::chrono::milliseconds(1'714'564'800'000));  // 2024-05-01 12:00:00
    auto empty = reader.backlog_after(noon);
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
    const auto behind = reader.backlog_after(noon);
    ASSERT_TRUE(behind);
    EXPECT_EQ(behind->rows, 3u) << "heartbeats count: only the time index is walked";
    EXPECT_FALSE(behind->estimated);
    EXPECT_TRUE(behind->newest_raw == noon + 90250ms);
    connection->execute("TRUNCATE TABLE positions_raw");

    zav::backlog_reader_impl unreachable(
        zav::node_accounts({{"127.0.0.1", 1}}, server->user, server->password, server->schema, std::nullopt));
    EXPECT_FALSE(unreachable.backlog_after(noon)) << "no answer is no report, never an exception";
}

}  // namespace
