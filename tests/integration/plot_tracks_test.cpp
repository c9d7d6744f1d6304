// tools/plot_tracks reading the tables positions_raw and positions through
// the daemon's configuration file, against the real server.

#include "support/mariadb_test_server.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using trackmend_test::mariadb_test_server;

namespace {

// Unlikely to meet rows of other tests, and removed again.
const std::string uid = "plot-tracks-test";

std::string run(const std::string& _command, int& _status)
{
    std::string output;
    FILE* pipe = ::popen((_command + " 2>&1").c_str(), "r");
    if (pipe == nullptr)
        return output;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        output.append(buffer, n);
    const int status = ::pclose(pipe);
    _status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return output;
}

class plot_tracks_db_test : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_server = mariadb_test_server::from_environment();
        if (!m_server)
            GTEST_SKIP() << mariadb_test_server::skip_message;
        m_connection = m_server->connect();
        remove_rows();
        m_dir = fs::temp_directory_path() / ("plot_tracks_db_test." + std::to_string(::getpid()));
        fs::create_directories(m_dir);
        std::ofstream(m_dir / "trackmend.json")
            << R"({"dw": {"host": ")" << m_server->host << R"(", "port": )" << m_server->port
            << R"(, "user": ")" << m_server->user << R"(", "password": ")" << m_server->password
            << R"(", "database": ")" << m_server->schema << R"("}, "system": {}})";
    }

    void TearDown() override
    {
        if (m_connection)
            remove_rows();
        if (!m_dir.empty())
            fs::remove_all(m_dir);
    }

    void remove_rows()
    {
        m_connection->execute("DELETE FROM positions_raw WHERE trackable_uid = '" + uid + "'");
        m_connection->execute("DELETE FROM positions WHERE trackable_uid = '" + uid + "'");
    }

    std::optional<mariadb_test_server> m_server;
    mariadb::connection_ref m_connection;
    fs::path m_dir;
};

}  // namespace

TEST_F(plot_tracks_db_test, reads_both_tables_without_heartbeats_and_finds_the_synthetic_positions)
{
    // Raw samples at 0.0, 0.5, 3.0, 3.5 s and a heartbeat at 1.2 s; the
    // processed rows repeat the samples and fill the gap at 1.0 and 2.0 s.
    // A processed row outside --from/--to is not read.
    m_connection->execute(
        "INSERT INTO positions_raw (trackable_id, trackable_uid, ts, x, y, type) VALUES "
        "(1, '" + uid + "', '2024-05-01 12:00:00.000', 0, 0, 'UWB'), "
        "(1, '" + uid + "', '2024-05-01 12:00:00.500', 10, 10, 'UWB'), "
        "(1, '" + uid + "', '2024-05-01 12:00:01.200', 500, 500, 'HB'), "
        "(1, '" + uid + "', '2024-05-01 12:00:03.000', 30, 30, 'UWB'), "
        "(1, '" + uid + "', '2024-05-01 12:00:03.500', 40, 40, 'UWB')");
    m_connection->execute(
        "INSERT INTO positions (trackable_id, trackable_uid, ts, x, y) VALUES "
        "(1, '" + uid + "', '2024-05-01 12:00:00.000', 5, 5), "
        "(1, '" + uid + "', '2024-05-01 12:00:00.500', 5, 5), "
        "(1, '" + uid + "', '2024-05-01 12:00:01.500', 15, 15), "
        "(1, '" + uid + "', '2024-05-01 12:00:02.500', 25, 25), "
        "(1, '" + uid + "', '2024-05-01 12:00:03.000', 35, 35), "
        "(1, '" + uid + "', '2024-05-01 12:00:03.500', 35, 35), "
        "(1, '" + uid + "', '2024-05-01 12:10:00.000', 35, 35)");

    int status = -1;
    const auto output = run(std::string(TRACKMEND_SOURCE_DIR) + "/tools/plot_tracks --config '" +
                                (m_dir / "trackmend.json").string() + "' -t " + uid +
                                " --from '2024-05-01 12:00:00' --to '2024-05-01 12:01:00' -o '" +
                                (m_dir / "t.png").string() + "'",
                            status);
    ASSERT_EQ(status, 0) << output;
    EXPECT_NE(output.find(uid + ": 4 raw, 4 smoothed, 2 synthetic positions"), std::string::npos) << output;
    EXPECT_TRUE(fs::exists(m_dir / "t.png"));
}

TEST_F(plot_tracks_db_test, reports_an_unusable_account)
{
    std::ofstream(m_dir / "wrong.json") << R"({"dw": {"host": ")" << m_server->host << R"(", "port": )"
                                        << m_server->port << R"(, "user": "nobody", "password": "x", "database": ")"
                                        << m_server->schema << R"("}})";
    int status = -1;
    const auto output = run(std::string(TRACKMEND_SOURCE_DIR) + "/tools/plot_tracks --config '" +
                                (m_dir / "wrong.json").string() + "' -o '" + (m_dir / "t.png").string() + "'",
                            status);
    EXPECT_NE(status, 0);
    EXPECT_NE(output.find("plot_tracks: query failed"), std::string::npos) << output;
    EXPECT_FALSE(fs::exists(m_dir / "t.png"));
}
