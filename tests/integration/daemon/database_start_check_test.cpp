// The daemon's start against the private server as a site runs it: under an
// account with exactly the rights README's "First start" grants, and with the
// failures that no wait mends (a wrong password, a missing right, TLS that
// does not verify), which must end the start at once with one line and exit
// status 1. TLS runs against a server of its own, with a certificate
// authority made here with openssl.

#include "support/daemon_harness.hpp"
#include "support/files.hpp"
#include "support/mariadb_test_server.hpp"
#include "support/process.hpp"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <memory>
#include <regex>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using trackmend_test::daemon_harness;
using trackmend_test::mariadb_test_server;
using trackmend_test::run_command;

const std::string site_user = "tm_site";
const std::string site_password = "a secret";

// README's statements that create the daemon's account and grant its rights,
// for schema _schema and user site_user, exactly as written there otherwise.
std::vector<std::string> readme_account_statements(const std::string& _schema)
{
    const std::string readme = trackmend_test::read_file(TRACKMEND_SOURCE_DIR "/README.md");
    const auto section = readme.find("**First start.**");
    const auto begin = readme.find("CREATE USER", section);
    const auto end = readme.find('"', begin);
    EXPECT_NE(section, std::string::npos);
    EXPECT_NE(begin, std::string::npos);
    std::string text = readme.substr(begin, end - begin);
    text = std::regex_replace(text, std::regex(R"(\brtls\.)"), _schema + ".");
    text = std::regex_replace(text, std::regex("'trackmend'@"), "'" + site_user + "'@");
    std::vector<std::string> statements;
    for (std::size_t from = 0; from < text.size();) {
        const auto semicolon = std::min(text.find(';', from), text.size());
        statements.push_back(text.substr(from, semicolon - from));
        from = semicolon + 1;
    }
    return statements;
}

unsigned free_port()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

class DatabaseStartCheckTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        auto server =
            mariadb_test_server::from_environment(TRACKMEND_SOURCE_DIR "/scripts/mariadb-test-server");
        if (!server) GTEST_SKIP() << mariadb_test_server::skip_message;
        if (server->dir.empty()) GTEST_SKIP() << "TRACKMEND_TEST_DB_DIR not set: no root to create accounts";
        m_server = *server;
        m_harness = std::make_unique<daemon_harness>(
            fs::temp_directory_path() / ("start_check_" + std::to_string(::getpid()) + "_" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name()),
            trackmend_test::sql_endpoint{m_server.host, m_server.port, m_server.user, m_server.password,
                                         m_server.schema});
        m_dir = m_harness->dir();
        m_root = root_of(m_server.dir, m_server.schema);
        m_root->execute("DROP USER IF EXISTS '" + site_user + "'@'127.0.0.1'");
        for (const auto& statement : readme_account_statements(m_server.schema)) m_root->execute(statement);
        m_harness->sql(
            "TRUNCATE TABLE positions_raw; TRUNCATE TABLE positions; TRUNCATE TABLE "
            "trackmend_read_ledger; TRUNCATE TABLE trackmend_late_check");
    }

    void TearDown() override
    {
        if (!m_harness) return;
        m_root->execute("DROP USER IF EXISTS '" + site_user + "'@'127.0.0.1'");
        m_harness->sql("TRUNCATE TABLE positions_raw; TRUNCATE TABLE positions");
        const bool keep = HasFailure();
        m_harness.reset();
        if (!keep) fs::remove_all(m_dir);
    }

    static mariadb::connection_ref root_of(const std::string& _dir, const std::string& _schema)
    {
        return mariadb::connection::create(mariadb::account::create(
            "localhost", "root", "", _schema, 0, (fs::path(_dir) / "mysqld.sock").string()));
    }

    // A configuration of the site account; _dw_keys replace host and port.
    fs::path site_config(const std::string& _name, const std::string& _password_keys,
                         const std::string& _dw_keys = "")
    {
        fs::create_directories(m_dir / _name / "state");
        const auto path = m_dir / (_name + ".json");
        trackmend_test::write_file(
            path,
            "{\"dw\": {" +
                (_dw_keys.empty() ? "\"host\": \"127.0.0.1\", \"port\": " + std::to_string(m_server.port)
                                  : _dw_keys) +
                ", \"user\": \"" + site_user + "\", " + _password_keys + ", \"database\": \"" +
                m_server.schema + "\"},\n \"system\": {\"persistent_data_dir\": \"" +
                (m_dir / _name / "state").string() + "\", \"pidfile\": \"" +
                (m_dir / _name / "trackmend.pid").string() +
                "\", \"debug\": false, \"timer_period_sec\": 1, \"select_duration_sec\": 60, "
                "\"insert_piece_size\": 1000}}\n");
        fs::permissions(path, fs::perms(0640));
        return path;
    }
    fs::path site_config(const std::string& _name)
    {
        return site_config(_name, "\"password\": \"" + site_password + "\"");
    }

    int check_config(const fs::path& _config, std::string* _output, const std::string& _environment = "")
    {
        return run_command(_environment + " " TRACKMEND_BINARY " -c " + _config.string() + " -t 2>/dev/null",
                           _output);
    }

    // Starts the daemon and expects it to end on its own with status 1 and
    // one line that begins with "Cannot start: " and holds _what.
    void expect_start_refused(const fs::path& _config, const std::string& _what)
    {
        const auto started = std::chrono::steady_clock::now();
        const auto daemon = m_harness->start_daemon(_config);
        EXPECT_EQ(m_harness->wait_exit(daemon, 60s), 1) << m_harness->log(daemon);
        EXPECT_LT(std::chrono::steady_clock::now() - started, 30s) << "within a minute, not after retries";
        const auto log = m_harness->log(daemon);
        EXPECT_EQ(daemon_harness::count(log, "Cannot start: "), 1u) << log;
        EXPECT_NE(log.find(_what), std::string::npos) << _what << "\n" << log;
        EXPECT_EQ(log.find(TRACKMEND_SOURCE_DIR), std::string::npos) << "no build-machine path\n" << log;
    }

    mariadb_test_server m_server;
    std::unique_ptr<daemon_harness> m_harness;
    fs::path m_dir;
    mariadb::connection_ref m_root;
};

TEST_F(DatabaseStartCheckTest, ReadmeGrantsAreEnoughAndEachOneIsNeeded)
{
    const auto batch = m_harness->batch_rows(m_harness->load_recording("--tags 5 --seconds 90 --seed 26"));
    const auto config = site_config("site");
    std::string output;
    EXPECT_EQ(check_config(config, &output), 0) << output;

    const auto daemon = m_harness->start_daemon(config);
    ASSERT_TRUE(m_harness->wait_until_caught_up(m_dir / "site" / "state", 120s)) << m_harness->log(daemon);
    ::kill(m_harness->pid(daemon), SIGHUP);
    EXPECT_EQ(m_harness->wait_exit(daemon, 2s), -1) << "SIGHUP does not end the daemon\n"
                                                    << m_harness->log(daemon);
    EXPECT_TRUE(daemon_harness::eventually(
        [&] { return m_harness->log(daemon).find("SIGHUP ignored") != std::string::npos; }, 10s));
    EXPECT_EQ(m_harness->stop(daemon, SIGTERM), 0) << m_harness->log(daemon);
    daemon_harness::expect_batch_equivalent(m_harness->written_rows(), batch);
    const auto log = m_harness->log(daemon);
    EXPECT_EQ(log.find("command denied"), std::string::npos) << log;
    EXPECT_NE(log.find("configuration " + config.string()), std::string::npos) << "the start line names it";

    // Without a right on the lease table, the start ends at once, and -t
    // says which right is missing.
    m_root->execute("REVOKE UPDATE ON " + m_server.schema + ".trackmend_writer_lease FROM '" + site_user +
                    "'@'127.0.0.1'");
    EXPECT_EQ(check_config(config, &output), 1);
    EXPECT_NE(output.find("FAILED: the account may not UPDATE trackmend_writer_lease"), std::string::npos)
        << output;
    expect_start_refused(config, "UPDATE command denied");
}

TEST_F(DatabaseStartCheckTest, WhatNoWaitMendsEndsTheStartAtOnce)
{
    expect_start_refused(site_config("wrong", "\"password\": \"not the secret\""), "(MariaDB error 1045)");
    m_root->execute("GRANT SELECT ON nowhere.* TO '" + site_user + "'@'127.0.0.1'");
    auto config = trackmend_test::read_file(site_config("nodb"));
    config.replace(config.find("\"database\": \"" + m_server.schema), 13 + m_server.schema.size(),
                   "\"database\": \"nowhere");
    trackmend_test::write_file(m_dir / "nodb.json", config);
    expect_start_refused(m_dir / "nodb.json", "(MariaDB error 1049)");

    // The password from a file, a relative name taken in the credentials
    // directory that systemd's LoadCredential= fills.
    fs::create_directories(m_dir / "credentials");
    trackmend_test::write_file(m_dir / "credentials" / "password", site_password + "\n");
    const auto from_file = site_config("from_file", "\"password_file\": \"password\"");
    std::string output;
    EXPECT_EQ(check_config(from_file, &output, "CREDENTIALS_DIRECTORY=" + (m_dir / "credentials").string()),
              0)
        << output;
    EXPECT_EQ(check_config(from_file, &output), 1) << "no credentials directory, no relative path";
    EXPECT_NE(output.find("'dw.password_file' must be an absolute path"), std::string::npos) << output;
}

TEST_F(DatabaseStartCheckTest, TlsVerifiesTheServerAndSaysSo)
{
    const auto certificates = m_dir / "tls";
    fs::create_directories(certificates);
    // Two authorities: the one that signs the server's certificate, made
    // for 127.0.0.1, and another one that signs nothing of it.
    const std::string openssl = "cd " + certificates.string() + " && ";
    ASSERT_EQ(
        run_command(openssl + "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=site-ca "
                              "-keyout ca.key -out ca.pem 2>/dev/null && "
                              "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=other-ca "
                              "-keyout other.key -out other.pem 2>/dev/null && "
                              "openssl req -newkey rsa:2048 -nodes -subj /CN=127.0.0.1 -keyout server.key "
                              "-out server.csr 2>/dev/null && "
                              "printf 'subjectAltName=IP:127.0.0.1\\n' > san.ext && "
                              "openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial "
                              "-days 2 -extfile san.ext -out server.pem 2>/dev/null"),
        0);
    trackmend_test::write_file(certificates / "server.cnf",
                               "ssl-ca=" + (certificates / "ca.pem").string() +
                                   "\nssl-cert=" + (certificates / "server.pem").string() +
                                   "\nssl-key=" + (certificates / "server.key").string() + "\n");
    // A short path: the server's socket lives there.
    const std::string dir = "/tmp/tmtls." + std::to_string(::getpid());
    const unsigned port = free_port();
    const std::string script = TRACKMEND_SOURCE_DIR "/scripts/mariadb-test-server";
    ASSERT_EQ(run_command(script + " start " + dir + " " + std::to_string(port) + " " +
                          (certificates / "server.cnf").string() + " >/dev/null 2>&1"),
              0);
    struct server_stop
    {
        std::string command;
        ~server_stop() { run_command(command); }
    } stop{script + " stop " + dir + " >/dev/null 2>&1; rm -rf " + dir};
    const auto root = root_of(dir, "trackmend_test");
    for (const auto& statement : readme_account_statements("trackmend_test")) root->execute(statement);
    root->execute("ALTER USER '" + site_user + "'@'127.0.0.1' REQUIRE SSL");

    const std::string node = "\"host\": \"127.0.0.1\", \"port\": " + std::to_string(port);
    auto tls = [&](const std::string& _ca) {
        return node + ", \"tls\": {\"ca_file\": \"" + (certificates / _ca).string() + "\"}";
    };
    std::string output;
    EXPECT_EQ(check_config(site_config("verified", "\"password\": \"" + site_password + "\"", tls("ca.pem")),
                           &output),
              0)
        << output;
    EXPECT_NE(output.find(", encrypted with TLS ("), std::string::npos) << output;

    const auto daemon = m_harness->start_daemon(
        site_config("tls_daemon", "\"password\": \"" + site_password + "\"", tls("ca.pem")));
    EXPECT_TRUE(daemon_harness::eventually(
        [&] { return m_harness->log(daemon).find("caught up") != std::string::npos; }, 30s))
        << m_harness->log(daemon);
    EXPECT_EQ(m_harness->stop(daemon, SIGTERM), 0) << m_harness->log(daemon);

    expect_start_refused(site_config("wrong_ca", "\"password\": \"" + site_password + "\"", tls("other.pem")),
                         "TLS failed");
    // Without TLS the account that requires it is refused; the line says
    // that TLS may be what is missing.
    expect_start_refused(site_config("plain", "\"password\": \"" + site_password + "\"", node),
                         "requires TLS without dw.tls");
}

}  // namespace
