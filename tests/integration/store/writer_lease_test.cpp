#include "store/writer_lease.hpp"

#include "support/log_capture.hpp"
#include "support/mariadb_test_server.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using trackmend_test::mariadb_test_server;

namespace {

class WriterLeaseTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        auto server = mariadb_test_server::from_environment();
        if (!server) GTEST_SKIP() << mariadb_test_server::skip_message;
        m_first = server->connect();
        m_second = server->connect();
        zav::writer_lease(*m_first, "setup", "setup", std::chrono::seconds(1)).create_table_if_missing();
        m_first->execute("DELETE FROM trackmend_writer_lease; TRUNCATE TABLE positions");
    }
    void TearDown() override
    {
        if (m_first) m_first->execute("DELETE FROM trackmend_writer_lease; TRUNCATE TABLE positions");
    }

    // One fenced write as the store makes it; false when the fence refused it.
    static bool fenced_insert(mariadb::connection& _connection, zav::writer_lease& _lease)
    {
        _connection.begin();
        try {
            _lease.fence_in_transaction();
            _connection.execute(
                "INSERT INTO positions (trackable_id, trackable_uid, ts) VALUES (1, 'T', NOW())");
            _connection.commit();
            return true;
        } catch (const std::exception&) {
            _connection.rollback();
            return false;
        }
    }

    mariadb::connection_ref m_first, m_second;
};

}  // namespace

TEST_F(WriterLeaseTest, OneHolderAtATimeAndTheFenceStopsTheOneThatLostIt)
{
    zav::writer_lease a(*m_first, "aaaa", "a on host1", std::chrono::seconds(2));
    zav::writer_lease b(*m_second, "bbbb", "b on host2", std::chrono::seconds(2));

    EXPECT_EQ(a.take_or_renew(), std::nullopt) << "a free lease is taken";
    EXPECT_EQ(b.take_or_renew(), "a on host1") << "the other daemon learns who holds it";
    EXPECT_EQ(a.take_or_renew(), std::nullopt) << "the holder renews";
    EXPECT_TRUE(fenced_insert(*m_first, a));
    EXPECT_FALSE(fenced_insert(*m_second, b)) << "a non-holder commits nothing";

    // The holder stops: the other takes over at once.
    a.release();
    EXPECT_EQ(b.take_or_renew(), std::nullopt);
    EXPECT_FALSE(fenced_insert(*m_first, a))
        << "the former holder cannot write any more, whatever it believes";
    EXPECT_TRUE(fenced_insert(*m_second, b));

    // The holder dies: its lease expires on the server's clock.
    EXPECT_EQ(a.take_or_renew(), "b on host2");
    std::this_thread::sleep_for(std::chrono::milliseconds(2200));
    EXPECT_EQ(a.take_or_renew(), std::nullopt);

    auto count = m_first->query("SELECT CAST(count(*) AS CHAR) AS n FROM positions");
    ASSERT_TRUE(count->next());
    EXPECT_EQ(count->get_string(0u), "2") << "only the fenced writes of the holders";
}

TEST_F(WriterLeaseTest, ATakeOverWaitsForAFencedWriteInProgressAndSeesItsRenewal)
{
    zav::writer_lease a(*m_first, "aaaa", "a", std::chrono::seconds(1));
    zav::writer_lease b(*m_second, "bbbb", "b", std::chrono::seconds(1));
    ASSERT_EQ(a.take_or_renew(), std::nullopt);
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    // b takes the expired lease while a's write is between its fence and its
    // commit: the row lock orders them, so a's piece commits before b's
    // take-over, which then finds a's renewal and waits.
    m_first->begin();
    a.fence_in_transaction();
    std::optional<std::string> b_result = "not run";
    std::thread taker([&] { b_result = b.take_or_renew(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    m_first->commit();
    taker.join();
    EXPECT_EQ(b_result, "a") << "the fence renewed the lease";
}
