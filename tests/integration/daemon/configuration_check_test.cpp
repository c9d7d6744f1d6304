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

    std::string config_text(const std::string& _user, const std::string& _password, const fs::path& _state,
                            const std::string& _pid_file = "", const std::string& _system_keys = "")
    {
        return R"({"dw": {"host": ")" + m_server.host + R"(", "user": ")" + _user + R"(", "password": ")" +
               _password + R"(", "database": ")" + m_server.schema + R"(", "port": )" +
               std::to_string(m_server.port) + R"(},
 "system": {"persistent_data_dir": ")" +
               _state.string() + R"(", "pidfile": ")" +
               (_pid_file.empty() ? (m_dir / "trackmend.pid").string() : _pid_file) +
               R"(", "debug": false, "timer_period_sec": 1,
            "select_duration_sec": 60, "insert_piece_size": 1000)" +
               _system_keys + "}}";
    }

    check_result check(const std::string& _config_text, const std::string& _run_as = "",
                       fs::perms _mode = fs::perms(0644))
    {
        const auto file = m_dir / "config.json";
        trackmend_test::write_file(file, _config_text);
        fs::permissions(file, _mode);
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
    const auto result =
        check(config_text(m_server.user, m_server.password, m_dir / "state", "", R"(, "max_latenes_sec": 5)"),
              "", fs::perms(0640));
    EXPECT_EQ(result.status, 0) << result.output;
    EXPECT_TRUE(failures(result.output).empty()) << result.output;
    for (const char* line :
         {"ok: PID file directory ", ", not encrypted\n", "ok: the account may INSERT into positions\n",
          "ok: the account may UPDATE trackmend_writer_lease\n",
          "ok: the account may DELETE from trackmend_read_ledger\n",
          "ok: the account may UPDATE trackmend_late_check\n",
          "warning: unknown key 'system.max_latenes_sec' (did you mean 'system.max_lateness_sec'?)"})
        EXPECT_NE(result.output.find(line), std::string::npos) << line << "\n" << result.output;
    EXPECT_EQ(result.output.find("every user may read it"), std::string::npos)
        << "mode 0640 hides the password from other users";
    EXPECT_FALSE(fs::exists(m_dir / "trackmend.pid")) << "no PID file";
    EXPECT_TRUE(fs::is_empty(m_dir / "state"));

    const auto readable = check_account(m_server.user, m_server.password);
    EXPECT_EQ(readable.status, 0) << "a warning fails no check";
    EXPECT_NE(readable.output.find("warning: the configuration " + (m_dir / "config.json").string() +
                                   " holds the database password and every user may read it"),
              std::string::npos)
        << readable.output;
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
    expect_one_failure(check(config_text(m_server.user, m_server.password, m_dir / "state",
                                         (m_dir / "none/t.pid").string())),
                       "PID file directory " + (m_dir / "none").string() + ": No such file or directory");
    expect_one_failure(check(config_text(m_server.user, m_server.password, "state")),
                       "'system.persistent_data_dir' must be an absolute path: state");

    // A directory the daemon's user cannot write; root writes anywhere, so
    // then the check runs as nobody.
    fs::create_directory(m_dir / "read-only");
    fs::permissions(m_dir / "read-only", fs::perms(0555));
    fs::create_directory(m_dir / "pid");
    fs::permissions(m_dir / "pid", fs::perms(0777));
    const auto pid_file = (m_dir / "pid/t.pid").string();
    expect_one_failure(check(config_text(m_server.user, m_server.password, m_dir / "read-only", pid_file),
                             ::geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : ""),
                       "is not writable");

    {
        auto connection = m_server.connect();
        connection->execute("RENAME TABLE positions TO positions_aside");
        const auto restore = zav::libs::core::make_scope_guard(
            [&] { connection->execute("RENAME TABLE positions_aside TO positions"); });
        const auto result = check_account(m_server.user, m_server.password);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(failures(result.output),
                  (std::vector<std::string>{
                      "FAILED: table positions does not exist (or the account has no privilege on it)",
                      "FAILED: the account may not SELECT from positions: Table '" + m_server.schema +
                          ".positions' doesn't exist"}));
    }

    // An account that may read but not insert needs the server's root, which
    // only the server's own socket lets in.
    if (m_server.dir.empty()) GTEST_SKIP() << "TRACKMEND_TEST_DB_DIR not set: no account without INSERT";
    auto root = mariadb::connection::create(mariadb::account::create(
        "localhost", "root", "", m_server.schema, 0, (fs::path(m_server.dir) / "mysqld.sock").string()));
    root->execute("CREATE USER IF NOT EXISTS 'tm_reader'@'127.0.0.1' IDENTIFIED BY 'reader'");
    const auto drop =
        zav::libs::core::make_scope_guard([&] { root->execute("DROP USER 'tm_reader'@'127.0.0.1'"); });
    // Every right the daemon needs but those on its lease: rights on the
    // other tables prove nothing about the lease table.
    for (const char* grant : {"SELECT ON %s.positions_raw", "SELECT, INSERT ON %s.positions",
                              "SELECT, INSERT, UPDATE, DELETE ON %s.trackmend_read_ledger",
                              "SELECT, INSERT, UPDATE ON %s.trackmend_late_check"}) {
        std::string text = grant;
        text.replace(text.find("%s"), 2, m_server.schema);
        root->execute("GRANT " + text + " TO 'tm_reader'@'127.0.0.1'");
    }
    expect_one_failure(check_account("tm_reader", "reader"), "may not SELECT from trackmend_writer_lease");
    root->execute("GRANT SELECT ON " + m_server.schema +
                  ".trackmend_writer_lease TO 'tm_reader'@'127.0.0.1'");
    const auto result = check_account("tm_reader", "reader");
    EXPECT_EQ(failures(result.output).size(), 2u) << result.output;
    EXPECT_NE(result.output.find("FAILED: the account may not INSERT into trackmend_writer_lease: "),
              std::string::npos);
    EXPECT_NE(result.output.find("FAILED: the account may not UPDATE trackmend_writer_lease: "),
              std::string::npos);
}

}  // namespace
