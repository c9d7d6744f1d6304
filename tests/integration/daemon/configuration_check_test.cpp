// `trackmend -c FILE --check-config` against the private server: one line per
// check, exit 0 only when every check passed, and nothing written.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "core/scope_guard.hpp"
#include "support/files.hpp"
#include "support/mariadb_test_server.hpp"
#include "support/process.hpp"

namespace {

namespace fs = std::filesystem;
using trackmend_test::mariadb_test_server;

struct check_result
{
    int status;
    std::string output;
};

class ConfigurationCheckTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        auto server = mariadb_test_server::from_environment();
        if (!server) GTEST_SKIP() << mariadb_test_server::skip_message;
        m_server = *server;
        // Readable by an unprivileged user, for the case that needs one.
        fs::permissions(m_dir.path(), fs::perms(0755));
        fs::create_directory(m_dir / "state");
    }

    std::string config_text(const std::string& _user, const std::string& _password, const fs::path& _state)
    {
        return R"({"dw": {"host": ")" + m_server.host + R"(", "user": ")" + _user + R"(", "password": ")" +
               _password + R"(", "database": ")" + m_server.schema + R"(", "port": )" +
               std::to_string(m_server.port) + R"(},
 "system": {"persistent_data_dir": ")" +
               _state.string() + R"(", "pidfile": ")" + (m_dir / "trackmend.pid").string() +
               R"(", "debug": false, "timer_period_sec": 1,
            "select_duration_sec": 60, "insert_piece_size": 1000}})";
    }

    check_result check(const std::string& _config_text, const std::string& _run_as = "")
    {
        const auto file = m_dir / "config.json";
        trackmend_test::write_file(file, _config_text);
        fs::permissions(file, fs::perms(0644));
        check_result result{};
        result.status = trackmend_test::run_command(
            _run_as + TRACKMEND_BINARY " -c " + file.string() + " --check-config 2>/dev/null",
            &result.output);
        return result;
    }

    check_result check_account(const std::string& _user, const std::string& _password)
    {
        return check(config_text(_user, _password, m_dir / "state"));
    }

    // The lines that start with "FAILED: ".
    static std::vector<std::string> failures(const std::string& _output)
    {
        std::vector<std::string> lines;
        std::istringstream in(_output);
        for (std::string line; std::getline(in, line);)
            if (line.rfind("FAILED: ", 0) == 0) lines.push_back(line);
        return lines;
    }

    mariadb_test_server m_server;
    trackmend_test::temporary_directory m_dir{"configuration_check_test"};
};

TEST_F(ConfigurationCheckTest, GoodConfigurationPassesEveryCheckAndWritesNothing)
{
    const auto result = check_account(m_server.user, m_server.password);
    EXPECT_EQ(result.status, 0) << result.output;
    EXPECT_EQ(std::count(result.output.begin(), result.output.end(), '\n'), 8) << result.output;
    EXPECT_TRUE(failures(result.output).empty()) << result.output;
    EXPECT_NE(result.output.find("ok: the account may INSERT into positions"), std::string::npos);
    EXPECT_FALSE(fs::exists(m_dir / "trackmend.pid")) << "no PID file";
    EXPECT_TRUE(fs::is_empty(m_dir / "state"));
}

TEST_F(ConfigurationCheckTest, EachProblemIsOneFailedLine)
{
    auto expect_one_failure = [&](const check_result& _result, const std::string& _text) {
        EXPECT_EQ(_result.status, 1) << _result.output;
        const auto lines = failures(_result.output);
        ASSERT_EQ(lines.size(), 1u) << _result.output;
        EXPECT_NE(lines[0].find(_text), std::string::npos) << lines[0];
    };

    expect_one_failure(check_account(m_server.user, "wrong-password"), "cannot connect to the database");
    expect_one_failure(check(R"({"dw": {}, })"), "Cannot parse json: ");
    expect_one_failure(check(config_text(m_server.user, m_server.password, m_dir / "missing")),
                       "No such file or directory");

    // A directory the daemon's user cannot write; root writes anywhere, so
    // then the check runs as nobody.
    fs::create_directory(m_dir / "read-only");
    fs::permissions(m_dir / "read-only", fs::perms(0555));
    expect_one_failure(check(config_text(m_server.user, m_server.password, m_dir / "read-only"),
                             ::geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : ""),
                       "is not writable");

    {
        auto connection = m_server.connect();
        connection->execute("RENAME TABLE positions TO positions_aside");
        const auto restore = zav::libs::core::make_scope_guard(
            [&] { connection->execute("RENAME TABLE positions_aside TO positions"); });
        expect_one_failure(check_account(m_server.user, m_server.password), "table positions does not exist");
    }

    // An account that may read but not insert needs the server's root, which
    // only the server's own socket lets in.
    if (m_server.dir.empty()) GTEST_SKIP() << "TRACKMEND_TEST_DB_DIR not set: no account without INSERT";
    auto root = mariadb::connection::create(mariadb::account::create(
        "localhost", "root", "", m_server.schema, 0, (fs::path(m_server.dir) / "mysqld.sock").string()));
    root->execute("CREATE USER IF NOT EXISTS 'tm_reader'@'127.0.0.1' IDENTIFIED BY 'reader'");
    const auto drop =
        zav::libs::core::make_scope_guard([&] { root->execute("DROP USER 'tm_reader'@'127.0.0.1'"); });
    root->execute("GRANT SELECT ON " + m_server.schema + ".* TO 'tm_reader'@'127.0.0.1'");
    expect_one_failure(check_account("tm_reader", "reader"), "may not INSERT into positions");
}

}  // namespace
