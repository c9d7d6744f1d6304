// The daemon on a 3-node Galera cluster: the node it writes through is
// killed with -9 in the middle of the catch-up, later the next one, and the
// daemon ends with the rows of batch mode over the same raw rows, none twice.

#include "support/daemon_harness.hpp"
#include "support/galera_test_cluster.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <iostream>
#include <regex>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using trackmend_test::daemon_harness;
using trackmend_test::galera_test_cluster;

// The node named by the daemon's last "Connected to database node" line, or 0.
int connected_node(const galera_test_cluster& _cluster, const std::string& _log)
{
    static const std::regex line("Connected to database node 127\\.0\\.0\\.1:([0-9]+)");
    int node = 0;
    for (std::sregex_iterator i(_log.begin(), _log.end(), line), end; i != end; ++i)
        node = _cluster.node_of_port(static_cast<unsigned int>(std::stoul((*i)[1])));
    return node;
}

double seconds_since(std::chrono::steady_clock::time_point _start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - _start).count();
}

TEST(DaemonFailoverTest, NodeKillsDuringTheCatchUpLoseAndDuplicateNothing)
{
    const auto cluster = galera_test_cluster::from_environment();
    if (!cluster) GTEST_SKIP() << galera_test_cluster::skip_message;

    // Statements go to node 3, the one that survives.
    daemon_harness harness(fs::temp_directory_path() / ("failover_test_" + std::to_string(::getpid())),
                           cluster->node(3));
    harness.sql(
        "TRUNCATE TABLE positions_raw; TRUNCATE TABLE positions; DROP TABLE IF EXISTS "
        "trackmend_writer_lease;");
    const auto batch = harness.batch_rows(harness.load_recording("--tags 20 --seconds 360 --seed 9"));
    const long long first_raw = harness.newest_ms("positions_raw") - 360'000;
    // Node 3 keeps the quorum alone once the two others are gone.
    ASSERT_TRUE(cluster->run("weight", "3 2"));

    std::string hosts;
    for (int n = 1; n <= galera_test_cluster::node_count; ++n)
        hosts += std::string(n > 1 ? ", " : "") + "\"127.0.0.1:" + std::to_string(cluster->port(n)) + "\"";
    const auto state = harness.dir() / "state";
    const auto d = harness.start_daemon(harness.write_config("failover.json", "\"hosts\": [" + hosts + "]",
                                                             state, harness.dir() / "trackmend.pid", 5, 40));

    std::vector<double> failover_seconds;
    for (int kill = 1; kill <= 2; ++kill) {
        // A third and two thirds into the recording.
        ASSERT_TRUE(daemon_harness::eventually(
            [&] { return harness.newest_ms() > first_raw + kill * 120'000; }, 300s))
            << harness.log(d);
        const int node = connected_node(*cluster, harness.log(d));
        EXPECT_EQ(node, kill) << "nodes are tried in order\n" << harness.log(d);
        ASSERT_NE(node, 3) << harness.log(d);
        const auto killed_at = std::chrono::steady_clock::now();
        ASSERT_TRUE(cluster->run("kill", std::to_string(node)));
        // Commits already certified still arrive from the dead node's
        // replication; the failover is over with the first write after the
        // daemon connected elsewhere.
        ASSERT_TRUE(daemon_harness::eventually(
            [&] { return connected_node(*cluster, harness.log(d)) != node; }, 120s))
            << "no reconnect after the kill of node " << node << "\n"
            << harness.log(d);
        EXPECT_EQ(connected_node(*cluster, harness.log(d)), node + 1) << harness.log(d);
        const long long newest_at_reconnect = harness.newest_ms();
        ASSERT_TRUE(
            daemon_harness::eventually([&] { return harness.newest_ms() > newest_at_reconnect; }, 120s))
            << "no write after the kill of node " << node << "\n"
            << harness.log(d);
        failover_seconds.push_back(seconds_since(killed_at));
    }
    // A reconnect may pause the writes for longer than the caught-up check's
    // three quiet seconds: the end of the recording comes first.
    ASSERT_TRUE(daemon_harness::eventually([&] { return harness.newest_ms() > first_raw + 340'000; }, 300s))
        << harness.log(d);
    ASSERT_TRUE(harness.wait_until_caught_up(state, 300s)) << harness.log(d);
    EXPECT_EQ(harness.stop(d, SIGTERM), 0);

    const auto written = harness.written_rows();
    const auto result = daemon_harness::expect_batch_equivalent(written, batch);
    EXPECT_GT(harness.newest_ms(), first_raw + 340'000) << "caught up with the recording";
    std::cout << "cluster failover: " << written.size() << " rows written (batch mode " << batch.size()
              << "), 2 node kills, failover " << failover_seconds.at(0) << " s and " << failover_seconds.at(1)
              << " s, " << result.missing << " lost, " << result.twice << " duplicated, " << result.foreign
              << " differing, " << daemon_harness::count(harness.log(d), "Completing an interrupted write")
              << " interrupted writes completed by the row count\n";

    // The cluster as it was, for the tests after this one.
    EXPECT_TRUE(cluster->run("restart", "1"));
    EXPECT_TRUE(cluster->run("restart", "2"));
    EXPECT_TRUE(cluster->run("weight", "3 1"));
    if (!HasFailure()) fs::remove_all(harness.dir());
}

}  // namespace
