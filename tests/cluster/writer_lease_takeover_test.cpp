// Two daemons with their own PID files and state directories on one
// database: the second waits for the writer lease while the first catches
// up, takes over within the lease's bound after the first is killed with
// -9, and together they write the rows of batch mode, none twice. On the
// cluster a third node meanwhile repeats the lease table's CREATE TABLE IF
// NOT EXISTS, as every daemon that starts does: replicated, it aborts the
// open write transactions on the other nodes, which must then fail and be
// written again, never vanish.

#include "support/daemon_harness.hpp"
#include "support/galera_test_cluster.hpp"
#include "support/mariadb_test_server.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <iostream>
#include <optional>
#include <thread>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using trackmend_test::daemon_harness;
using trackmend_test::sql_endpoint;

// Lease of 10 s (timer period 1 s), one try per second, and the time the
// waiting daemon needs to log.
constexpr double takeover_bound_seconds = 10 + 1 + 2;

std::string host_list(const std::vector<sql_endpoint>& _nodes)
{
    std::string hosts;
    for (const auto& node : _nodes)
        hosts += std::string(hosts.empty() ? "" : ", ") + "\"" + node.host + ":" + std::to_string(node.port) +
                 "\"";
    return "\"hosts\": [" + hosts + "]";
}

// Runs the lease table's CREATE TABLE IF NOT EXISTS on _node every 50 ms
// until destroyed; failures of the statement are ignored.
class lease_table_ddl
{
public:
    explicit lease_table_ddl(const sql_endpoint& _node)
        : m_thread([this, _node] {
              auto db =
                  trackmend_test::mariadb_test_server{_node.host,   _node.port, _node.user, _node.password,
                                                      _node.schema, "",         ""}
                      .connect();
              while (!m_stop) {
                  try {
                      db->execute(
                          "CREATE TABLE IF NOT EXISTS trackmend_writer_lease (id TINYINT UNSIGNED NOT NULL "
                          "PRIMARY KEY)");
                      ++m_runs;
                  } catch (const std::exception&) {
                  }
                  std::this_thread::sleep_for(50ms);
              }
          })
    {
    }
    ~lease_table_ddl()
    {
        m_stop = true;
        m_thread.join();
    }
    int runs() const { return m_runs; }

private:
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_runs{0};
    std::thread m_thread;
};

void kill_the_active_daemon_during_the_catch_up(const std::string& _name, const sql_endpoint& _endpoint,
                                                const std::vector<sql_endpoint>& _nodes_a,
                                                const std::vector<sql_endpoint>& _nodes_b,
                                                const std::optional<sql_endpoint>& _ddl_node = std::nullopt)
{
    daemon_harness harness(fs::temp_directory_path() / (_name + "_" + std::to_string(::getpid())), _endpoint);
    harness.sql(
        "TRUNCATE TABLE positions_raw; TRUNCATE TABLE positions; DROP TABLE IF EXISTS "
        "trackmend_writer_lease;");
    const auto batch = harness.batch_rows(harness.load_recording("--tags 20 --seconds 360 --seed 5"));
    const long long first_raw = harness.newest_ms("positions_raw") - 360'000;

    const auto a = harness.start_daemon(harness.write_config(
        "a.json", host_list(_nodes_a), harness.dir() / "a", harness.dir() / "a.pid", 5, 40));
    ASSERT_TRUE(daemon_harness::eventually(
        [&] { return daemon_harness::count(harness.log(a), "Holding the writer lease") == 1; }, 60s))
        << harness.log(a);
    // From here on the table exists: the statement never creates it.
    std::optional<lease_table_ddl> ddl;
    if (_ddl_node) ddl.emplace(*_ddl_node);
    const auto b = harness.start_daemon(harness.write_config(
        "b.json", host_list(_nodes_b), harness.dir() / "b", harness.dir() / "b.pid", 5, 40));
    ASSERT_TRUE(daemon_harness::eventually(
        [&] { return daemon_harness::count(harness.log(b), "Another daemon holds the writer lease") == 1; },
        60s))
        << harness.log(b);

    ASSERT_TRUE(daemon_harness::eventually([&] { return harness.newest_ms() > first_raw + 150'000; }, 300s))
        << harness.log(a);
    EXPECT_EQ(daemon_harness::count(harness.log(b), "Another daemon holds the writer lease"), 1u)
        << "logged once\n"
        << harness.log(b);
    EXPECT_EQ(daemon_harness::count(harness.log(b), "Holding the writer lease"), 0u) << harness.log(b);
    EXPECT_LT(harness.newest_ms(), first_raw + 340'000) << "the kill should interrupt the catch-up";

    const auto killed_at = std::chrono::steady_clock::now();
    ASSERT_EQ(harness.stop(a, SIGKILL), 128 + SIGKILL);
    ASSERT_TRUE(daemon_harness::eventually(
        [&] { return daemon_harness::count(harness.log(b), "Holding the writer lease") == 1; }, 60s))
        << harness.log(b);
    const double takeover =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - killed_at).count();
    EXPECT_LE(takeover, takeover_bound_seconds);

    // A reconnect may pause the writes for longer than the caught-up check's
    // three quiet seconds: the end of the recording comes first.
    ASSERT_TRUE(daemon_harness::eventually([&] { return harness.newest_ms() > first_raw + 340'000; }, 300s))
        << harness.log(b);
    ASSERT_TRUE(harness.wait_until_caught_up(harness.dir() / "b", 300s)) << harness.log(b);
    const int ddl_runs = ddl ? ddl->runs() : 0;
    ddl.reset();
    EXPECT_EQ(harness.stop(b, SIGTERM), 0);
    const auto written = harness.written_rows();
    const auto result = daemon_harness::expect_batch_equivalent(written, batch);
    EXPECT_GT(harness.newest_ms(), first_raw + 340'000) << "caught up with the recording";
    std::cout << _name << ": " << written.size() << " rows written (batch mode " << batch.size()
              << "), takeover " << takeover << " s after kill -9 (bound " << takeover_bound_seconds << " s), "
              << result.missing << " lost, " << result.twice << " duplicated, " << result.foreign
              << " differing; " << ddl_runs << " replicated CREATE TABLE on the lease table meanwhile\n";
    if (!::testing::Test::HasFailure()) fs::remove_all(harness.dir());
}

TEST(WriterLeaseTakeoverTest, SingleServer)
{
    const auto server = trackmend_test::mariadb_test_server::from_environment();
    if (!server) GTEST_SKIP() << trackmend_test::mariadb_test_server::skip_message;
    const sql_endpoint endpoint{server->host, server->port, server->user, server->password, server->schema};
    kill_the_active_daemon_during_the_catch_up("takeover_single", endpoint, {endpoint}, {endpoint});
}

TEST(WriterLeaseTakeoverTest, GaleraClusterWithTheDaemonsOnDifferentNodes)
{
    const auto cluster = trackmend_test::galera_test_cluster::from_environment();
    if (!cluster) GTEST_SKIP() << trackmend_test::galera_test_cluster::skip_message;
    kill_the_active_daemon_during_the_catch_up(
        "takeover_cluster", cluster->node(1), {cluster->node(1), cluster->node(2), cluster->node(3)},
        {cluster->node(2), cluster->node(3), cluster->node(1)}, cluster->node(3));
}

}  // namespace
