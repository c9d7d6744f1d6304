#include "mariadb++/connection.hpp"
#include "mariadb++/exceptions.hpp"

#include "support/log_capture.hpp"
#include "support/server_test.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

class MariadbppTest : public trackmend_test::server_test
{
protected:
    MariadbppTest()
        : server_test(
              "DROP TABLE IF EXISTS mariadbpp_test; "
              "CREATE TABLE mariadbpp_test (id INT, small TINYINT UNSIGNED, ts DATETIME(6), "
              "name VARCHAR(64)) DEFAULT CHARSET = utf8mb4 COLLATE = utf8mb4_bin",
              "DROP TABLE IF EXISTS mariadbpp_test")
    {
    }

    // The first column of the first row of _sql as text.
    std::string scalar(const std::string& _sql)
    {
        auto rows = m_sql->query(_sql);
        EXPECT_TRUE(rows->next()) << _sql;
        return rows->get_string(0u);
    }
};

template <typename F>
std::string error_of(F&& _f)
{
    try {
        _f();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "<no exception>";
}

}  // namespace

TEST_F(MariadbppTest, ConnectsLazilyAndReportsFailures)
{
    // Nothing listens on port 1: creating touches no server, the first
    // operation fails with the client library's error.
    auto connection =
        mariadb::connection::create(mariadb::account::create("127.0.0.1", "nobody", "x", "", 1, ""));
    trackmend_test::stderr_capture captured;
    try {
        connection->set_charset("utf8mb4");
        FAIL() << "connected to port 1";
    } catch (const mariadb::exception::connection& e) {
        EXPECT_EQ(e.error_id(), 2002u) << e.what();
        EXPECT_EQ(connection->error_no(), e.error_id());
        EXPECT_EQ(connection->error(), e.what());
    }
    const std::string report = captured.text();
    EXPECT_NE(report.find("MariaDB Error(2002): "), std::string::npos) << report;
    EXPECT_NE(report.find("\nIn function: connect\nIn file "), std::string::npos) << report;
    EXPECT_NE(report.find("connection.cpp\nOn line "), std::string::npos) << report;

    // A bad statement is reported and leaves the connection usable.
    EXPECT_THROW(m_sql->execute("INSERT INTO no_such_table VALUES (1)"), mariadb::exception::connection);
    EXPECT_EQ(scalar("SELECT CAST(1 + 1 AS CHAR)"), "2");
}

TEST_F(MariadbppTest, ExecuteAddsTheAffectedRowsOfEveryStatement)
{
    EXPECT_EQ(m_sql->execute("INSERT INTO mariadbpp_test (id) VALUES (1), (2), (3)"), 3u);
    EXPECT_EQ(m_sql->execute("INSERT INTO mariadbpp_test (id) VALUES (4); "
                             "UPDATE mariadbpp_test SET small = 1 WHERE id <= 2"),
              3u);
    EXPECT_EQ(m_sql->execute("SELECT * FROM mariadbpp_test; DELETE FROM mariadbpp_test WHERE id = 4"), 1u)
        << "rows of a SELECT are not counted";
    EXPECT_THROW(m_sql->execute("DELETE FROM mariadbpp_test; INSERT INTO no_such_table VALUES (1)"),
                 mariadb::exception::connection);
    EXPECT_EQ(scalar("SELECT CAST(count(*) AS CHAR) FROM mariadbpp_test"), "0")
        << "the statement before the failing one ran";
    EXPECT_EQ(scalar("SELECT '7'; "), "7")
        << "a trailing blank after the semicolon leaves the session in sync";
    EXPECT_EQ(scalar("SELECT '8'"), "8");
}

TEST_F(MariadbppTest, GettersCheckRowColumnAndKind)
{
    m_sql->execute(
        "INSERT INTO mariadbpp_test VALUES (-7, 200, '2024-05-01 12:00:00.007000', 'a'), "
        "(NULL, NULL, NULL, NULL)");
    auto rows = m_sql->query(
        "SELECT id, small, ts, name, microsecond(ts) AS us FROM mariadbpp_test "
        "ORDER BY id IS NULL");
    EXPECT_EQ(error_of([&] { rows->get_signed32("id"); }), "No row was fetched");

    ASSERT_TRUE(rows->next());
    EXPECT_EQ(rows->get_signed32("id"), -7);
    EXPECT_EQ(rows->get_signed8("small"), 0) << "200 does not fit a signed byte";
    EXPECT_EQ(rows->get_signed32("us"), 7000);
    EXPECT_EQ(rows->get_date_time("ts").millisecond(), 7);
    EXPECT_EQ(rows->get_string("name"), "a");
    EXPECT_EQ(error_of([&] { rows->get_signed32("nope"); }), "Column index out of range");
    EXPECT_EQ(error_of([&] { rows->get_signed32("ts"); }), "type error") << "a DATETIME read as a number";

    ASSERT_TRUE(rows->next());
    EXPECT_TRUE(rows->get_is_null("id"));
    EXPECT_EQ(rows->get_string("name"), "") << "NULL reads as an empty string";
    EXPECT_THROW(rows->get_signed32("id"), std::invalid_argument);
    EXPECT_EQ(error_of([&] { rows->get_date_time("ts"); }), "invalid date format");

    EXPECT_FALSE(rows->next());

    auto empty = m_sql->query("SELECT max(ts) AS ts FROM mariadbpp_test WHERE id > 100");
    ASSERT_TRUE(empty->next());
    EXPECT_TRUE(empty->get_is_null("ts"));
}

TEST_F(MariadbppTest, EscapedStringsArriveByteForByte)
{
    const std::vector<std::string> texts = {"it's",
                                            "say \"hi\"",
                                            "back\\slash",
                                            "100%",
                                            "a; DROP TABLE x; --",
                                            "ü€😀",
                                            std::string("nul\0byte", 8),
                                            "\\'",
                                            "'"};
    for (const auto& text : texts)
        m_sql->execute("INSERT INTO mariadbpp_test (name) VALUES ('" + m_sql->escape(text) + "')");
    auto rows = m_sql->query("SELECT name FROM mariadbpp_test");
    for (const auto& text : texts) EXPECT_TRUE(rows->next() && rows->get_string("name") == text) << text;
    EXPECT_FALSE(rows->next());
}

TEST_F(MariadbppTest, ReconnectsTransparentlyAfterTheServerRestarted)
{
    if (!m_server.can_restart())
        GTEST_SKIP() << "TRACKMEND_TEST_DB_DIR is not set: the server cannot be restarted";
    m_sql->execute("INSERT INTO mariadbpp_test (name) VALUES ('before')");
    const std::string first_session = scalar("SELECT CAST(connection_id() AS CHAR)");

    ASSERT_TRUE(m_server.stop());
    {
        trackmend_test::stderr_capture quiet;
        EXPECT_THROW(m_sql->query("SELECT 1"), mariadb::exception::connection) << "the server is down";
    }
    ASSERT_TRUE(m_server.start());

    // Same handle, new session: the schema and character set are restored.
    EXPECT_EQ(scalar("SELECT name FROM mariadbpp_test"), "before");
    EXPECT_NE(scalar("SELECT CAST(connection_id() AS CHAR)"), first_session);
    EXPECT_EQ(scalar("SELECT @@character_set_client"), "utf8mb4");
    m_sql->execute("INSERT INTO mariadbpp_test (name) VALUES ('" + m_sql->escape("😀'") + "')");
    EXPECT_EQ(scalar("SELECT name FROM mariadbpp_test WHERE name != 'before'"), "😀'");
}

TEST_F(MariadbppTest, BulkExecutionBindsEveryKindAndNullInOneTransaction)
{
    ASSERT_TRUE(m_sql->supports_bulk()) << "MariaDB 10.2 and later execute arrays of parameters";
    using kind = mariadb::bulk_rows::kind;
    mariadb::bulk_rows rows({kind::integer, kind::text, kind::date_time});
    const std::vector<std::string> names = {"it's", "ü€😀", std::string("nul\0byte", 8)};
    for (int i = 0; i < 3; ++i) {
        rows.add_integer(i == 1 ? std::nullopt : std::optional<long long>(i - 1));
        rows.add_text(std::string_view(names[static_cast<std::size_t>(i)]));
        rows.add_date_time({2024, 5, 1, 12, 0, static_cast<unsigned>(i), 7000UL * static_cast<unsigned>(i)});
    }
    rows.add_integer(9);
    rows.add_text(std::nullopt);
    rows.add_date_time({2024, 12, 31, 23, 59, 59, 999000});
    const std::string insert = "INSERT INTO mariadbpp_test (id, name, ts) VALUES (?, ?, ?)";

    m_sql->begin();
    EXPECT_EQ(m_sql->execute_bulk(insert, rows), 4u);
    m_sql->rollback();
    EXPECT_EQ(scalar("SELECT CAST(count(*) AS CHAR) FROM mariadbpp_test"), "0") << "rolled back";

    m_sql->begin();
    EXPECT_EQ(m_sql->execute_bulk(insert, rows), 4u) << "the prepared statement is used again";
    m_sql->commit();
    auto text = [&](const std::string& _where) {
        return scalar(
            "SELECT CONCAT_WS('/', IFNULL(id, 'NULL'), IFNULL(HEX(name), 'NULL'), ts) FROM mariadbpp_test "
            "WHERE " +
            _where);
    };
    EXPECT_EQ(text("id = -1"), "-1/" + scalar("SELECT HEX('it''s')") + "/2024-05-01 12:00:00.000000");
    EXPECT_EQ(text("id IS NULL"), "NULL/" + scalar("SELECT HEX('ü€😀')") + "/2024-05-01 12:00:01.007000");
    EXPECT_EQ(text("id = 1"), "1/6E756C0062797465/2024-05-01 12:00:02.014000");
    EXPECT_EQ(text("id = 9"), "9/NULL/2024-12-31 23:59:59.999000");
}

TEST_F(MariadbppTest, NoPingPerStatementAndALostSessionIsFoundByTheFailingCall)
{
    auto pings = [&] {
        return std::stoll(
            scalar("SELECT CAST(VARIABLE_VALUE AS CHAR) FROM information_schema.GLOBAL_STATUS "
                   "WHERE VARIABLE_NAME = 'COM_ADMIN_COMMANDS'"));
    };
    const long long before = pings();
    for (int i = 0; i < 20; ++i) scalar("SELECT 'x'");
    EXPECT_LE(pings() - before, 1) << "twenty queries, no ping before each";

    // The session is killed while idle (an idle timeout, a restarted proxy):
    // a query goes through on a new session; a statement that changes data
    // fails once, and the next one runs on a new session.
    auto killer = m_server.connect();
    const std::string session = scalar("SELECT CAST(connection_id() AS CHAR)");
    killer->execute("KILL " + session);
    EXPECT_EQ(scalar("SELECT 'again'"), "again");
    EXPECT_NE(scalar("SELECT CAST(connection_id() AS CHAR)"), session);
    killer->execute("KILL " + scalar("SELECT CAST(connection_id() AS CHAR)"));
    {
        trackmend_test::stderr_capture quiet;
        EXPECT_THROW(m_sql->execute("INSERT INTO mariadbpp_test (name) VALUES ('x')"),
                     mariadb::exception::connection);
    }
    m_sql->execute("INSERT INTO mariadbpp_test (name) VALUES ('y')");
    EXPECT_EQ(scalar("SELECT GROUP_CONCAT(name) FROM mariadbpp_test"), "y");
}

TEST_F(MariadbppTest, ATransactionBegunWithItsFirstStatementsIsOpenEvenWhenTheyFail)
{
    auto other = m_server.connect();
    auto visible = [&] {
        auto r = other->query("SELECT IFNULL(GROUP_CONCAT(id ORDER BY id), '') FROM mariadbpp_test");
        r->next();
        return r->get_string(0u);
    };
    EXPECT_EQ(m_sql->begin_with("INSERT INTO mariadbpp_test (id) VALUES (1), (2)"), 2u)
        << "the rows of the statements after BEGIN";
    EXPECT_TRUE(m_sql->in_transaction());
    EXPECT_EQ(visible(), "") << "inside the transaction";
    m_sql->commit();
    EXPECT_EQ(visible(), "1,2");

    // A statement after BEGIN fails: what ran before it is rolled back with
    // the transaction, which stays open until the caller ends it.
    {
        trackmend_test::stderr_capture quiet;
        EXPECT_THROW(m_sql->begin_with(
                         "INSERT INTO mariadbpp_test (id) VALUES (3); INSERT INTO no_such_table VALUES (1)"),
                     mariadb::exception::connection);
    }
    EXPECT_TRUE(m_sql->in_transaction());
    m_sql->rollback();
    EXPECT_EQ(visible(), "1,2");

    // The session is lost inside the transaction: the next statement fails
    // instead of running outside it on a new session.
    m_sql->begin_with("INSERT INTO mariadbpp_test (id) VALUES (4)");
    other->execute("KILL " + scalar("SELECT CAST(CONNECTION_ID() AS CHAR)"));
    {
        trackmend_test::stderr_capture quiet;
        EXPECT_THROW(m_sql->execute("INSERT INTO mariadbpp_test (id) VALUES (5)"),
                     mariadb::exception::connection);
        EXPECT_THROW(m_sql->commit(), mariadb::exception::connection);
    }
    m_sql->rollback();
    EXPECT_EQ(visible(), "1,2") << "the killed session's transaction was rolled back";
}

TEST_F(MariadbppTest, SeveralAccountsAreTriedInOrderAndATransactionNeverSpansTwoSessions)
{
    // Nothing listens on port 1: the second account serves.
    auto account = [&](unsigned int _port) {
        return mariadb::account::create(m_server.host, m_server.user, m_server.password, m_server.schema,
                                        _port, "");
    };
    auto connection = mariadb::connection::create({account(1), account(m_server.port)});
    int setups = 0;
    connection->set_session_setup([&](mariadb::connection& _c) {
        ++setups;
        EXPECT_EQ(_c.account()->port(), m_server.port);
    });
    {
        trackmend_test::stderr_capture quiet;
        EXPECT_EQ(connection->query("SELECT 1")->row_count(), 1u);
    }
    EXPECT_EQ(setups, 1);
    EXPECT_EQ(connection->account()->port(), m_server.port);

    // The session is killed inside a transaction: the next statement throws
    // instead of running outside it on a new session, and so does every one
    // until the transaction is ended.
    connection->begin();
    connection->execute("INSERT INTO mariadbpp_test (id) VALUES (1)");
    auto id = connection->query("SELECT CAST(CONNECTION_ID() AS CHAR)");
    ASSERT_TRUE(id->next());
    m_sql->execute("KILL " + id->get_string(0u));
    {
        trackmend_test::stderr_capture quiet;
        EXPECT_NE(error_of([&] { connection->execute("INSERT INTO mariadbpp_test (id) VALUES (2)"); }),
                  "<no exception>");
        EXPECT_NE(error_of([&] { connection->query("SELECT 1"); }), "<no exception>") << "not even a read";
        EXPECT_NE(error_of([&] { connection->commit(); }), "<no exception>")
            << "a COMMIT on a new session would report success for nothing";
    }
    connection->rollback();
    EXPECT_FALSE(connection->in_transaction());
    EXPECT_EQ(connection->query("SELECT id FROM mariadbpp_test")->row_count(), 0u) << "nothing committed";
    EXPECT_EQ(setups, 2) << "a new session afterwards, set up again";

    // A setup that rejects every server ends with its error.
    connection->set_session_setup([](mariadb::connection&) { throw std::runtime_error("not ready"); });
    m_sql->execute("KILL " + std::to_string(std::stoll([&] {
                       auto r = connection->query("SELECT CAST(CONNECTION_ID() AS CHAR)");
                       r->next();
                       return r->get_string(0u);
                   }())));
    trackmend_test::stderr_capture quiet;
    EXPECT_EQ(error_of([&] { connection->query("SELECT 1"); }), "not ready");
}

TEST_F(MariadbppTest, PreparedQueryDeliversBinaryValuesAndSurvivesAThrowingReader)
{
    m_sql->execute(
        "INSERT INTO mariadbpp_test (id, small, ts, name) VALUES (-5, 255, '2024-05-01 12:00:01.007999', "
        "'a'), "
        "(NULL, NULL, NULL, NULL), (7, 0, '1969-12-31 23:59:59.5', 'b')");
    using kind = mariadb::bulk_rows::kind;
    mariadb::bulk_rows after({kind::date_time, kind::integer});
    after.add_date_time({2000, 1, 1, 0, 0, 0, 0});
    after.add_integer(std::nullopt);
    const std::string select =
        "SELECT id, small, ts, name, id / 2.0E0 AS half FROM mariadbpp_test "
        "WHERE ts >= ? OR ts IS NULL OR id <=> ? ORDER BY id";

    std::vector<std::string> seen;
    EXPECT_EQ(
        m_sql->query_prepared(
            select, after,
            [&](const mariadb::binary_row& _row) {
                if (_row.get_is_null(0)) {
                    EXPECT_TRUE(_row.get_is_null(2) && _row.get_is_null(3));
                    seen.push_back("NULL");
                    return;
                }
                const auto ts = _row.get_date_time(_row.column_index("ts"));
                seen.push_back(std::to_string(_row.get_integer(0)) + "/" +
                               std::to_string(_row.get_integer(1)) + "/" + std::to_string(ts.second) + "." +
                               std::to_string(ts.microsecond) + "/" + std::string(_row.get_text(3)) + "/" +
                               std::to_string(_row.get_double(4)));
                EXPECT_THROW(_row.get_text(0), mariadb::exception::connection) << "an integer is no text";
            }),
        2u);
    EXPECT_EQ(seen, (std::vector<std::string>{"NULL", "-5/255/1.7999/a/-2.500000"}));

    // A reader that fails at the first row: the rest of the streamed result
    // is discarded, and the session serves the next statements.
    after.clear();
    after.add_date_time({1900, 1, 1, 0, 0, 0, 0});
    after.add_integer(7);
    EXPECT_EQ(error_of([&] {
                  m_sql->query_prepared(select, after, [](const mariadb::binary_row&) {
                      throw std::runtime_error("reader failed");
                  });
              }),
              "reader failed");
    EXPECT_EQ(scalar("SELECT CAST(count(*) AS CHAR) FROM mariadbpp_test"), "3");
    std::size_t rows = 0;
    m_sql->query_prepared(select, after, [&](const mariadb::binary_row&) { ++rows; });
    EXPECT_EQ(rows, 3u);
}
