// The daemon's state files end to end: a damaged runner.bin or database.bin
// stops the real executable, at start-up or while it runs, with a message
// naming the file, and the file stays byte for byte as it was; a
// database.bin of the version before is completed.

#include "daemon/context_file.hpp"
#include "store/pending_insert_file.hpp"

#include "support/daemon_harness.hpp"
#include "support/files.hpp"
#include "support/mariadb_test_server.hpp"
#include "support/positions.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <memory>
#include <string>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using trackmend_test::daemon_harness;
using trackmend_test::read_file;
using trackmend_test::write_file;

// Offset of the first position's trackable_id in a database.bin: magic,
// version, body length, rows before, count.
constexpr std::size_t first_trackable_id = 4 + 4 + 8 + 8 + 8;

class daemon_state_files_test : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const auto server = trackmend_test::mariadb_test_server::from_environment();
        if (!server) GTEST_SKIP() << trackmend_test::mariadb_test_server::skip_message;
        m_harness = std::make_unique<daemon_harness>(
            fs::temp_directory_path() / ("daemon_state_files_test_" + std::to_string(::getpid())),
            trackmend_test::sql_endpoint{server->host, server->port, server->user, server->password,
                                         server->schema});
        m_config = m_harness->write_config(
            "config.json", "\"host\": \"" + server->host + "\", \"port\": " + std::to_string(server->port),
            state(), m_harness->dir() / "trackmend.pid", 60, 1000);
        fresh_state();
    }

    void TearDown() override
    {
        if (!m_harness) return;
        m_harness->sql("TRUNCATE TABLE positions_raw; TRUNCATE TABLE positions");
        const auto dir = m_harness->dir();
        const bool keep = HasFailure();
        m_harness.reset();
        if (!keep) fs::remove_all(dir);
    }

    fs::path state() const { return m_harness->dir() / "state"; }
    void fresh_state()
    {
        m_harness->sql("TRUNCATE TABLE positions_raw; TRUNCATE TABLE positions");
        fs::remove_all(state());
        fs::create_directories(state());
    }
    long long written() const
    {
        return std::stoll(m_harness->query("SELECT CAST(count(*) AS CHAR) FROM positions"));
    }

    // A daemon that must stop on _file: exit status 1, the message naming the
    // file and _fault, and the file as it was.
    void expect_stopped_on(std::size_t _daemon, const fs::path& _file, const std::string& _content,
                           const std::string& _fault)
    {
        EXPECT_EQ(m_harness->wait_exit(_daemon, 60s), 1);
        const auto log = m_harness->log(_daemon);
        EXPECT_NE(log.find("State file " + _file.string() + " " + _fault), std::string::npos) << log;
        EXPECT_NE(log.find("mv " + _file.string() + " " + _file.string() + ".bad"), std::string::npos) << log;
        EXPECT_EQ(read_file(_file), _content) << _file << " was changed";
    }

    std::unique_ptr<daemon_harness> m_harness;
    fs::path m_config;
};

std::string damaged(std::string _content, std::size_t _at, char _value)
{
    _content.at(_at) = _value;
    return _content;
}

}  // namespace

TEST_F(daemon_state_files_test, a_damaged_file_stops_the_start_and_is_kept_as_it_is)
{
    const auto batch = zav::test::pinned_positions();
    const auto database_bin = state() / "database.bin";
    zav::pending_insert_file::save(database_bin.string(), batch, 0);
    const auto pending = read_file(database_bin);
    zav::context_file::contexts contexts;
    contexts[batch.front().ts].processed_positions = batch;
    const auto runner_bin = state() / "runner.bin";
    zav::context_file::save(runner_bin.string(), contexts);
    const auto context = read_file(runner_bin);

    struct
    {
        const char* what;
        fs::path file;
        std::string content;
        std::string fault;
    } cases[] = {
        // The first row's trackable_id 7 made 9: the record still parses.
        {"trackable_id changed", database_bin, damaged(pending, first_trackable_id, 9), "fails its checksum"},
        {"database.bin of a newer version", database_bin, damaged(pending, 4, 3), "has version 3"},
        {"runner.bin with a byte flipped", runner_bin,
         damaged(context, context.size() / 2, static_cast<char>(~context[context.size() / 2])),
         "fails its checksum"},
        {"runner.bin cut short", runner_bin, context.substr(0, context.size() - 1), "is cut short"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fresh_state();
        write_file(c.file, c.content);
        expect_stopped_on(m_harness->start_daemon(m_config), c.file, c.content, c.fault);
        EXPECT_EQ(written(), 0) << "nothing of the damaged file was written";
    }
}

TEST_F(daemon_state_files_test, a_file_damaged_while_the_daemon_runs_stops_it_at_the_next_tick)
{
    // A caught-up daemon writes nothing more, so database.bin is the test's.
    for (long long offset = -60000; offset < -30000; offset += 200) m_harness->insert_live(3, offset);
    const auto d = m_harness->start_daemon(m_config);
    ASSERT_TRUE(m_harness->wait_until_caught_up(state(), 60s)) << m_harness->log(d);
    const auto before = written();
    ASSERT_GT(before, 0) << m_harness->log(d);

    const auto database_bin = state() / "database.bin";
    zav::pending_insert_file::save(database_bin.string(), zav::test::pinned_positions(), 0);
    const auto content = damaged(read_file(database_bin), first_trackable_id, 9);
    write_file(database_bin, content);
    expect_stopped_on(d, database_bin, content, "fails its checksum");
    EXPECT_NE(m_harness->log(d).find("Stopping: "), std::string::npos) << m_harness->log(d);
    EXPECT_EQ(written(), before);
}

TEST_F(daemon_state_files_test, an_interrupted_write_of_the_version_before_is_completed)
{
    // Version 1: magic, version, then the body, without length and checksum.
    const auto batch = zav::test::pinned_positions();
    const auto database_bin = state() / "database.bin";
    zav::pending_insert_file::save(database_bin.string(), batch, 0);
    const auto framed = read_file(database_bin);
    write_file(database_bin, std::string("TMPW\x01\0\0\0", 8) + framed.substr(16, framed.size() - 20));

    const auto d = m_harness->start_daemon(m_config);
    ASSERT_TRUE(daemon_harness::eventually([&] { return !fs::exists(database_bin); }, 30s))
        << m_harness->log(d);
    EXPECT_EQ(m_harness->stop(d, SIGTERM), 0);
    EXPECT_EQ(m_harness->query("SELECT CAST(trackable_id AS CHAR), trackable_uid FROM positions ORDER BY ts"),
              "7\tT1\n8\tT 2\n");
}
