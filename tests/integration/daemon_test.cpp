// The trackmend daemon end to end: the real executable with a generated
// configuration, the private MariaDB server, real signals and kill -9. The
// reference for what positions must hold is batch mode over the same rows.

#include "support/files.hpp"
#include "support/mariadb_test_server.hpp"
#include "support/process.hpp"

#include "position.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <boost/archive/text_oarchive.hpp>
#include <boost/serialization/vector.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using trackmend_test::mariadb_test_server;
using trackmend_test::read_file;
using trackmend_test::run_command;

std::vector<std::string> split(const std::string& _text, char _separator)
{
    std::vector<std::string> fields;
    std::istringstream in(_text);
    for (std::string field; std::getline(in, field, _separator);) fields.push_back(field);
    if (!_text.empty() && _text.back() == _separator) fields.emplace_back();
    return fields;
}

// "YYYY-MM-DD hh:mm:ss.ffffff" (UTC) as milliseconds since the epoch.
long long to_ms(const std::string& _ts)
{
    std::tm tm{};
    double seconds = 0;
    if (std::sscanf(_ts.c_str(), "%d-%d-%d %d:%d:%lf", &tm.tm_year, &tm.tm_mon, &tm.tm_mday, &tm.tm_hour,
                    &tm.tm_min, &seconds) != 6)
        return 0;
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    return static_cast<long long>(::timegm(&tm)) * 1000 + std::llround(seconds * 1000);
}

// One position in a form both batch output and the table give: uid, mac, time
// with six fraction digits, x, y, z, area, project, inactive; absent values
// (NULL, "\N" or empty) as "\N".
struct row
{
    std::string text;
    long long ts_ms;
    bool operator<(const row& _other) const { return text < _other.text; }
};

std::vector<row> parse_rows(const std::string& _text, char _separator)
{
    std::vector<row> rows;
    std::istringstream in(_text);
    for (std::string line; std::getline(in, line);) {
        auto fields = split(line, _separator);
        std::string text;
        for (auto& f : fields) {
            f.erase(0, f.find_first_not_of(' '));
            text += (f.empty() || f == "NULL" ? "\\N" : f) + "|";
        }
        rows.push_back({text, to_ms(fields.at(2))});
    }
    return rows;
}

std::multiset<std::string> texts(const std::vector<row>& _rows)
{
    std::multiset<std::string> result;
    for (const auto& r : _rows) result.insert(r.text);
    return result;
}

class daemon_test : public ::testing::Test
{
protected:
    void SetUp() override
    {
#ifndef TRACKMEND_BINARY
        GTEST_SKIP() << "the trackmend executable is not built";
#else
        m_binary = TRACKMEND_BINARY;
#endif
        // Another build of the daemon, for instance an older version to show
        // that a test catches what it was written for.
        if (const char* other = std::getenv("TRACKMEND_TEST_DAEMON")) m_binary = other;
        auto server =
            mariadb_test_server::from_environment(TRACKMEND_SOURCE_DIR "/scripts/mariadb-test-server");
        if (!server) GTEST_SKIP() << mariadb_test_server::skip_message;
        m_server = *server;
        m_db = m_server.connect();
        ASSERT_TRUE(fs::exists(m_generator)) << m_generator;
        m_dir = fs::temp_directory_path() / ("daemon_test_" + std::to_string(::getpid()) + "_" +
                                             ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
        sql("TRUNCATE TABLE positions_raw");
        fresh_state();
    }

    void TearDown() override
    {
        for (std::size_t d = 0; d < m_started.size(); ++d)
            if (m_started[d] > 0) stop(d, SIGKILL);
        if (m_dir.empty()) return;
        sql("TRUNCATE TABLE positions_raw; TRUNCATE TABLE positions");
        if (!HasFailure()) fs::remove_all(m_dir);
    }

    // Empty positions and no state files, as before a first start.
    void fresh_state()
    {
        sql("TRUNCATE TABLE positions");
        fs::remove_all(m_dir / "state");
        fs::create_directories(m_dir / "state");
    }

    // Statements that return no rows; the session of the test stays
    // usable across server restarts (it reconnects by itself).
    void sql(const std::string& _statements) { m_db->execute(_statements); }
    // The rows of a query as tab-separated text (numbers and times CAST).
    std::string query(const std::string& _query) { return mariadb_test_server::query_text(*m_db, _query); }

    // Inserts raw rows given as the generator's raw-tsv lines (\N for NULL).
    void insert_raw_lines(const std::vector<std::string>& _lines)
    {
        const std::string head =
            "INSERT INTO positions_raw (trackable_id, trackable_uid, mac_address, ts, x, y, z, area_uid, "
            "project_uid, inactive, type) VALUES ";
        std::string values;
        std::size_t rows = 0;
        for (const auto& line : _lines) {
            values += values.empty() ? "(" : ", (";
            const auto f = split(line, '\t');
            for (std::size_t i = 0; i < f.size(); ++i)
                values +=
                    (i ? "," : "") + (f[i] == "\\N" ? std::string("NULL") : "'" + m_db->escape(f[i]) + "'");
            values += ")";
            if (++rows % 1000 == 0) {
                sql(head + values);
                values.clear();
            }
        }
        if (!values.empty()) sql(head + values);
    }

    // Generates a recording and returns its raw-tsv lines.
    std::vector<std::string> generate(const std::string& _arguments)
    {
        const auto tsv = m_dir / "raw.tsv";
        EXPECT_EQ(
            run_command(m_generator.string() + " " + _arguments + " --format raw-tsv --out " + tsv.string()),
            0);
        return split(read_file(tsv), '\n');
    }

    // The same rows as a batch input file (heartbeats included: batch mode
    // skips every kind but "UWB", as the daemon skips 'HB').
    fs::path batch_input(const std::vector<std::string>& _lines)
    {
        const auto batch = m_dir / "batch.in";
        std::ofstream out(batch);
        for (const auto& line : _lines) {
            if (line.empty()) continue;
            const auto f = split(line, '\t');
            out << f.at(1) << '|' << f.at(2) << '|' << f.at(3) << "|0|gen|\\N|\\N|\\N|" << f.at(10);
            for (int i = 4; i <= 9; ++i) out << '|' << f.at(i);
            out << '\n';
        }
        return batch;
    }

    // Loads a generated recording into positions_raw and returns the same
    // rows as a batch input file.
    fs::path load_recording(const std::string& _arguments)
    {
        auto lines = generate(_arguments);
        if (!lines.empty() && lines.back().empty()) lines.pop_back();
        insert_raw_lines(lines);
        return batch_input(lines);
    }

    // Every raw row as raw-tsv lines, in time order.
    std::vector<std::string> raw_lines(const std::string& _where = "1")
    {
        auto text = query(
            "SELECT CAST(trackable_id AS CHAR), trackable_uid, mac_address, DATE_FORMAT(ts, '%Y-%m-%d "
            "%H:%i:%s.%f'), CAST(x AS CHAR), CAST(y AS CHAR), CAST(z AS CHAR), area_uid, project_uid, "
            "CAST(inactive AS CHAR), type FROM positions_raw WHERE " +
            _where + " ORDER BY ts, id");
        auto lines = split(text, '\n');
        if (!lines.empty() && lines.back().empty()) lines.pop_back();
        for (auto& line : lines) {
            auto f = split(line, '\t');
            line.clear();
            for (std::size_t i = 0; i < f.size(); ++i)
                line += (i ? "\t" : "") + (f[i] == "NULL" ? "\\N" : f[i]);
        }
        return lines;
    }

    std::vector<row> batch_rows(const fs::path& _input)
    {
        const auto output = m_dir / "batch.out";
        EXPECT_EQ(run_command(m_binary + " -s -i " + _input.string() + " -o " + output.string()), 0);
        return parse_rows(read_file(output), '|');
    }

    std::vector<row> written_rows()
    {
        return parse_rows(query("SELECT trackable_uid, mac_address, DATE_FORMAT(ts, '%Y-%m-%d %H:%i:%s.%f'), "
                                "CAST(x AS CHAR), CAST(y AS CHAR), CAST(z AS CHAR), area_uid, project_uid, "
                                "CAST(inactive AS CHAR) FROM positions"),
                          '\t');
    }

    long long newest_ms(const std::string& _table = "positions")
    {
        return to_ms(query("SELECT DATE_FORMAT(max(ts), '%Y-%m-%d %H:%i:%s.%f') FROM " + _table));
    }

    fs::path write_config(const std::string& _name, int _select_duration_sec = 60,
                          int _insert_piece_size = 1000, unsigned _port = 0, int _max_lateness_sec = -1)
    {
        const auto path = m_dir / _name;
        std::ofstream(path) << "{\"dw\": {\"host\": \"" << m_server.host << "\", \"user\": \""
                            << m_server.user << "\", \"password\": \"" << m_server.password
                            << "\", \"database\": \"" << m_server.schema
                            << "\", \"port\": " << (_port ? _port : m_server.port)
                            << "},\n \"system\": {\"persistent_data_dir\": \"" << (m_dir / "state").string()
                            << "\", \"pidfile\": \"" << (m_dir / "trackmend.pid").string()
                            << "\", \"debug\": false, \"timer_period_sec\": 1, \"select_duration_sec\": "
                            << _select_duration_sec << ", \"insert_piece_size\": " << _insert_piece_size
                            << (_max_lateness_sec >= 0
                                    ? ", \"max_lateness_sec\": " + std::to_string(_max_lateness_sec)
                                    : std::string())
                            << "}}\n";
        return path;
    }

    // Starts the daemon with its output in daemon<n>.log; returns n.
    std::size_t start_daemon(const fs::path& _config)
    {
        const auto log = log_path(m_started.size());
        posix_spawn_file_actions_t actions;
        ::posix_spawn_file_actions_init(&actions);
        ::posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                           0644);
        ::posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
        std::string config = _config.string();
        std::vector<char*> argv{m_binary.data(), const_cast<char*>("-c"), config.data(), nullptr};
        pid_t pid = -1;
        EXPECT_EQ(::posix_spawn(&pid, m_binary.c_str(), &actions, nullptr, argv.data(), environ), 0);
        ::posix_spawn_file_actions_destroy(&actions);
        m_started.push_back(pid);
        return m_started.size() - 1;
    }

    fs::path log_path(std::size_t _daemon) const
    {
        return m_dir / ("daemon" + std::to_string(_daemon) + ".log");
    }
    std::string log(std::size_t _daemon) const { return read_file(log_path(_daemon)); }

    // The exit status, or -1 when the process is still running at the
    // deadline, or 128 + signal when a signal ended it.
    int wait_exit(std::size_t _daemon, std::chrono::seconds _timeout = 60s)
    {
        int status = 0;
        const bool ended = eventually(
            [&] { return ::waitpid(m_started[_daemon], &status, WNOHANG) == m_started[_daemon]; }, _timeout);
        if (ended) m_started[_daemon] = -1;  // reaped: never signalled again
        return !ended ? -1 : WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    int stop(std::size_t _daemon, int _signal = SIGTERM)
    {
        if (m_started[_daemon] > 0) ::kill(m_started[_daemon], _signal);
        return wait_exit(_daemon);
    }

    static bool eventually(const std::function<bool()>& _condition, std::chrono::seconds _timeout)
    {
        for (const auto deadline = std::chrono::steady_clock::now() + _timeout;
             std::chrono::steady_clock::now() < deadline; std::this_thread::sleep_for(50ms))
            if (_condition()) return true;
        return false;
    }

    // Caught up: nothing pending and the newest written time has not moved
    // for three seconds while the daemon ran its timer.
    bool wait_until_caught_up(std::chrono::seconds _timeout)
    {
        long long newest = -1;
        int stable = 0;
        return eventually(
            [&] {
                const auto now = newest_ms();
                const bool same = now == newest && now > 0 && !fs::exists(m_dir / "state" / "database.bin");
                stable = same ? stable + 1 : 0;
                newest = now;
                std::this_thread::sleep_for(150ms);
                return stable >= 15;
            },
            _timeout);
    }

    // The daemon's rows are batch-mode rows, none more often than batch mode
    // gives it, and every batch row up to 4 s before the newest written time
    // is there.
    void expect_batch_equivalent(const std::vector<row>& _written, const std::vector<row>& _batch)
    {
        ASSERT_FALSE(_written.empty());
        const std::multiset<row> batch(_batch.begin(), _batch.end());
        std::multiset<row> seen;
        long long newest = 0;
        int twice = 0, foreign = 0, missing = 0;
        for (const auto& r : _written) {
            seen.insert(r);
            if (!batch.count(r)) {
                if (++foreign <= 5) ADD_FAILURE() << "not a batch-mode row: " << r.text;
            } else if (seen.count(r) > batch.count(r) && ++twice <= 5) {
                ADD_FAILURE() << "written twice: " << r.text;
            }
            newest = std::max(newest, r.ts_ms);
        }
        for (const auto& r : batch)
            if (r.ts_ms <= newest - 4000 && seen.count(r) < batch.count(r) && ++missing <= 5)
                ADD_FAILURE() << "batch-mode row not written: " << r.text;
        EXPECT_EQ(twice + foreign + missing, 0)
            << twice << " duplicates, " << foreign << " foreign rows, " << missing << " missing rows";
    }

    // Caught up for a live feed: the newest written time trails the server's
    // present by no more than the hold-back and a margin, and stays.
    long long server_now_ms()
    {
        return to_ms(query("SELECT DATE_FORMAT(UTC_TIMESTAMP(3), '%Y-%m-%d %H:%i:%s.%f')"));
    }

    // Rows of tags A..E at 5 Hz, dated _offset_ms from the server's present.
    void insert_live(int _tags, long long _offset_ms, const std::string& _prefix = "L")
    {
        std::string values;
        for (int tag = 0; tag < _tags; ++tag)
            values += std::string(values.empty() ? "" : ", ") + "(" + std::to_string(tag) + ", '" + _prefix +
                      std::to_string(tag) + "', NULL, UTC_TIMESTAMP(3) + INTERVAL " +
                      std::to_string(_offset_ms * 1000) + " MICROSECOND, " +
                      std::to_string(tag * 100 + std::rand() % 7) + ", 7, 0, 'a', 'p', 0, 'UWB')";
        sql("INSERT INTO positions_raw (trackable_id, trackable_uid, mac_address, ts, x, y, z, area_uid, "
            "project_uid, inactive, type) VALUES " +
            values);
    }

    mariadb_test_server m_server;
    mariadb::connection_ref m_db;
    std::string m_binary;
    const fs::path m_generator = fs::path(TRACKMEND_BINARY_DIR) / "tools" / "generate_positions";
    fs::path m_dir;
    std::vector<pid_t> m_started;
};

// Window lengths other than 5 s are the runner's unit test's business.
TEST_F(daemon_test, catch_up_equals_batch_mode_and_survives_crashes_and_database_outages)
{
    const auto batch = batch_rows(load_recording("--tags 20 --seconds 360 --seed 9"));
    // Short windows and small statements make a long catch-up with many
    // pieces, each written by several INSERT statements.
    const auto config = write_config("crash.json", 5, 40);
    const auto reference_daemon = start_daemon(config);
    ASSERT_TRUE(wait_until_caught_up(180s)) << log(reference_daemon);
    ASSERT_EQ(stop(reference_daemon), 0);
    EXPECT_NE(log(reference_daemon).find("Starting trackmend"), std::string::npos) << log(reference_daemon);
    EXPECT_NE(log(reference_daemon).find("main(int, char**)::<lambda()>: exit"), std::string::npos);
    expect_batch_equivalent(written_rows(), batch);
    const auto reference = texts(written_rows());
    const auto reference_newest = newest_ms();
    ASSERT_FALSE(reference.empty());

    // kill -9 at random moments, inserts included, and restart, until the
    // catch-up is complete, at most 30 times. The moments are early enough
    // that a catch-up of a second or two is still cut several times.
    fresh_state();
    std::mt19937 random(42);
    int kills = 0;
    for (; kills < 30 && newest_ms() < reference_newest; ++kills) {
        const auto d = start_daemon(config);
        std::this_thread::sleep_for(
            std::chrono::milliseconds(std::uniform_int_distribution<>(50, 400)(random)));
        ASSERT_EQ(stop(d, SIGKILL), 128 + SIGKILL);
    }
    EXPECT_GE(kills, 3) << "the catch-up is too short to be interrupted";
    const auto survivor = start_daemon(config);
    ASSERT_TRUE(wait_until_caught_up(180s)) << log(survivor);
    EXPECT_EQ(stop(survivor), 0);
    const auto after_crashes = texts(written_rows());
    EXPECT_EQ(after_crashes.size(), reference.size()) << "after " << kills << " kills";
    EXPECT_TRUE(after_crashes == reference)
        << "rows differ from the uninterrupted run after " << kills << " kills";

    // The server goes away in the middle of the catch-up and comes back.
    if (!m_server.can_restart())
        GTEST_SKIP() << "TRACKMEND_TEST_DB_DIR not set: the outage case needs to stop the server";
    fresh_state();
    const auto d = start_daemon(config);
    ASSERT_TRUE(eventually([&] { return newest_ms() > 0; }, 60s));
    EXPECT_LT(newest_ms(), reference_newest) << "the outage should interrupt the catch-up";
    ASSERT_TRUE(m_server.stop());
    std::this_thread::sleep_for(3s);
    ASSERT_TRUE(m_server.start());
    ASSERT_TRUE(wait_until_caught_up(180s)) << log(d);
    EXPECT_EQ(stop(d), 0);
    EXPECT_NE(log(d).find("Can't connect to server"), std::string::npos) << "the failures are logged:\n"
                                                                         << log(d);
    EXPECT_TRUE(texts(written_rows()) == reference)
        << "rows differ from the uninterrupted run after an outage";
}

TEST_F(daemon_test, live_feed_is_followed_within_the_timer_period_and_the_hold_back)
{
    const auto d = start_daemon(write_config("live.json", 5));
    // A producer writes five tags at 5 Hz with the current time for 25 s.
    const auto start = std::chrono::steady_clock::now();
    long long worst_lag = 0;
    int samples = 0;
    while (std::chrono::steady_clock::now() - start < 25s) {
        insert_live(5, 0);
        std::this_thread::sleep_for(200ms);
        if (std::chrono::steady_clock::now() - start > 16s) {
            worst_lag = std::max(worst_lag, newest_ms("positions_raw") - newest_ms());
            ++samples;
        }
    }
    EXPECT_EQ(stop(d), 0);
    ASSERT_GT(samples, 0);
    // Timer period 1 s, hold-back 10 s, and 2 s for the trimmed trailing
    // second and the time of one run.
    EXPECT_LE(worst_lag, 13000) << log(d);
}

TEST_F(daemon_test, failed_starts_are_logged_and_end_with_a_non_zero_status)
{
    // A second daemon on the same configuration is refused.
    const auto config = write_config("first.json");
    const auto first = start_daemon(config);
    const auto pid = std::to_string(m_started[first]);
    ASSERT_TRUE(eventually([&] { return read_file(m_dir / "trackmend.pid") == pid; }, 30s));
    const auto second = start_daemon(config);
    EXPECT_EQ(wait_exit(second, 30s), 1);
    EXPECT_NE(log(second).find("Process is running"), std::string::npos) << log(second);
    EXPECT_EQ(::kill(m_started[first], 0), 0) << "the first daemon is unaffected";
    EXPECT_EQ(read_file(m_dir / "trackmend.pid"), pid);
    EXPECT_EQ(stop(first), 0);

    // A missing and an invalid configuration.
    std::ofstream(m_dir / "invalid.json") << R"({"dw": {"host": "127.0.0.1"}, "system": {}})";
    for (auto [file, message] : {std::pair{"no-such-config.json", "Cannot parse json: "},
                                 {"invalid.json", "Config file is invalid: "}}) {
        const auto d = start_daemon(m_dir / file);
        EXPECT_EQ(wait_exit(d, 30s), 1);
        EXPECT_NE(log(d).find(message), std::string::npos) << log(d);
        EXPECT_EQ(log(d).find(": exit"), std::string::npos) << log(d);
    }

    // SIGTERM while the database is unreachable (nothing listens on port 1)
    // ends start-up with "Interrupted", once the first attempt has failed
    // and the signal thread runs.
    const auto unreachable = start_daemon(write_config("unreachable.json", 60, 1000, 1));
    ASSERT_TRUE(eventually([&] { return std::ranges::count(log(unreachable), '\n') >= 2; }, 30s))
        << log(unreachable);
    EXPECT_EQ(stop(unreachable), 1);
    EXPECT_NE(log(unreachable).find("Interrupted"), std::string::npos) << log(unreachable);
    EXPECT_EQ(log(unreachable).find(": exit"), std::string::npos) << log(unreachable);
}

// A tag whose clock runs ahead, and rows dated years ahead, wait until their
// time has come; every other tag goes on being written in time.
TEST_F(daemon_test, rows_dated_in_the_future_wait_and_stop_nothing_else)
{
    // Rows of 2037 and 2100 among a recording of the past: a window that
    // reaches them must not move the newest written time past the present.
    auto lines = generate("--tags 4 --seconds 40 --seed 5 --clean");
    if (!lines.empty() && lines.back().empty()) lines.pop_back();
    insert_raw_lines(lines);
    insert_raw_lines({"9\tFUTURE\t\\N\t2037-01-01 00:00:00.000\t1\t1\t0\ta\tp\t0\tUWB",
                      "9\tFUTURE\t\\N\t2100-01-01 00:00:00.000\t1\t1\t0\ta\tp\t0\tUWB"});
    // Windows of 60 s reach past the present by up to a minute.
    const auto d = start_daemon(write_config("future.json", 60));
    std::this_thread::sleep_for(4s);
    // Then one tag 15 s ahead of the others, which report the present, for
    // 14 s.
    const auto start = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - start < 14s) {
        insert_live(4, 0);
        insert_live(1, 15000, "SKEW");
        std::this_thread::sleep_for(200ms);
    }
    std::this_thread::sleep_for(3s);
    const long long now = server_now_ms();
    EXPECT_EQ(stop(d), 0);
    EXPECT_LE(newest_ms(), now) << "nothing dated after the present is written";
    EXPECT_GE(newest_ms(), now - 16000) << "the tags on time are followed:\n" << log(d);
    EXPECT_NE(log(d).find("rows dated in the future"), std::string::npos) << log(d);
    // Batch mode over the rows up to the present gives the same rows, up to
    // the newest written time.
    expect_batch_equivalent(written_rows(),
                            batch_rows(batch_input(raw_lines("ts <= UTC_TIMESTAMP(3) - INTERVAL 1 SECOND"))));
}

TEST_F(daemon_test, a_zero_date_is_skipped_with_a_warning_and_stalls_nothing)
{
    sql("SET SESSION sql_mode = ''");
    sql("INSERT INTO positions_raw (trackable_id, trackable_uid, ts, x, y, type) VALUES (1, 'Z', "
        "'0000-00-00 00:00:00', 1, 1, 'UWB')");
    auto lines = generate("--tags 5 --seconds 60 --seed 3");
    if (!lines.empty() && lines.back().empty()) lines.pop_back();
    insert_raw_lines(lines);
    const auto d = start_daemon(write_config("zero.json", 10));
    ASSERT_TRUE(wait_until_caught_up(60s)) << log(d);
    EXPECT_EQ(stop(d), 0);
    EXPECT_NE(log(d).find("1 raw rows have an invalid time"), std::string::npos) << log(d);
    expect_batch_equivalent(written_rows(), batch_rows(batch_input(lines)));
}

TEST_F(daemon_test, rows_inserted_out_of_time_order_keep_their_last_second)
{
    // A per-tag bulk import: all of one tag, then all of the next; the tag
    // imported last ends 20 s before the others. When the server returns the
    // window in insertion order (a full scan, as for a window that holds the
    // whole table), the trim of the trailing second must not take that tag's
    // last second: it lies before the next window's start.
    auto lines = generate("--tags 6 --seconds 30 --seed 4 --clean");
    if (!lines.empty() && lines.back().empty()) lines.pop_back();
    std::stable_sort(lines.begin(), lines.end(), [](const std::string& _a, const std::string& _b) {
        return split(_a, '\t').at(1) < split(_b, '\t').at(1);
    });
    const std::string last_tag = split(lines.back(), '\t').at(1);
    const long long last_tag_end = to_ms(split(lines.front(), '\t').at(3)) + 10000;
    std::erase_if(lines, [&](const std::string& _line) {
        const auto f = split(_line, '\t');
        return f.at(1) == last_tag && to_ms(f.at(3)) > last_tag_end;
    });
    insert_raw_lines(lines);
    sql("ANALYZE TABLE positions_raw");
    const auto d = start_daemon(write_config("order.json", 3600));
    ASSERT_TRUE(wait_until_caught_up(60s)) << log(d);
    EXPECT_EQ(stop(d), 0);
    expect_batch_equivalent(written_rows(), batch_rows(batch_input(lines)));
}

TEST_F(daemon_test, late_arrivals_are_reported_or_processed_within_max_lateness)
{
    // A gateway uploads its tag's rows 16 s after their time, later than the
    // 10 s hold-back covers: counted and reported without max_lateness_sec,
    // processed in order with it (windows then trail the present by 18 s, so
    // the feed runs longer).
    for (auto [lateness, feed] : {std::pair{0, 15s}, {18, 34s}}) {
        fresh_state();
        sql("TRUNCATE TABLE positions_raw");
        const auto d = start_daemon(write_config("late.json", 5, 1000, 0, lateness));
        const auto start = std::chrono::steady_clock::now();
        while (std::chrono::steady_clock::now() - start < feed) {
            insert_live(3, 0);
            insert_live(1, -16000, "LATE");
            std::this_thread::sleep_for(200ms);
        }
        std::this_thread::sleep_for(2s);
        EXPECT_EQ(stop(d), 0);
        if (lateness == 0) {
            EXPECT_NE(log(d).find("raw rows arrived late"), std::string::npos) << log(d);
        } else {
            EXPECT_EQ(log(d).find("raw rows arrived late"), std::string::npos) << log(d);
            expect_batch_equivalent(written_rows(), batch_rows(batch_input(raw_lines())));
        }
    }
}

// Every raw row twice, kill -9 at random moments and a different
// insert_piece_size at every restart: the same rows as an uninterrupted run.
TEST_F(daemon_test, duplicates_kills_and_piece_size_changes_lose_and_double_nothing)
{
    auto lines = generate("--tags 10 --seconds 200 --seed 12");
    if (!lines.empty() && lines.back().empty()) lines.pop_back();
    insert_raw_lines(lines);
    insert_raw_lines(lines);
    const auto reference_daemon = start_daemon(write_config("dup.json", 5, 40));
    ASSERT_TRUE(wait_until_caught_up(180s)) << log(reference_daemon);
    ASSERT_EQ(stop(reference_daemon), 0);
    const auto reference = texts(written_rows());
    const auto reference_newest = newest_ms();

    fresh_state();
    std::mt19937 random(7);
    const int piece_sizes[] = {40, 7, 1000, 13};
    int kills = 0;
    for (; kills < 30 && newest_ms() < reference_newest; ++kills) {
        const auto d = start_daemon(write_config("dup.json", 5, piece_sizes[kills % 4]));
        std::this_thread::sleep_for(
            std::chrono::milliseconds(std::uniform_int_distribution<>(100, 600)(random)));
        ASSERT_EQ(stop(d, SIGKILL), 128 + SIGKILL);
    }
    EXPECT_GE(kills, 3) << "the catch-up is too short to be interrupted";
    const auto survivor = start_daemon(write_config("dup.json", 5, 40));
    ASSERT_TRUE(wait_until_caught_up(180s)) << log(survivor);
    EXPECT_EQ(stop(survivor), 0);
    const auto after = texts(written_rows());
    EXPECT_EQ(after.size(), reference.size()) << "after " << kills << " kills";
    EXPECT_TRUE(after == reference) << "rows differ from the uninterrupted run after " << kills << " kills";
}

// The previous version left an interrupted write behind (its database.bin
// is a text archive of the batch): every row twice, cut into pieces of 3, so
// that the second piece starts with the twin of the first piece's last row,
// and only the first piece went in. After the upgrade the daemon completes
// it exactly, without skipping the pieces whose first row has a twin in
// positions.
TEST_F(daemon_test, an_interrupted_write_of_the_previous_version_is_completed_exactly)
{
    zav::positions_vector batch;
    for (int second = 0; second < 6; ++second)
        for (int twice = 0; twice < 2; ++twice) {
            zav::position p;
            p.trackable_id = 1;
            p.trackable_uid = "TWIN";
            p.ts = zav::timestamp(std::chrono::milliseconds(1714564800000 + second * 1000));
            p.x = second;
            p.y = 1;
            batch.push_back(p);
        }
    {
        std::ofstream file(m_dir / "state" / "database.bin");
        boost::archive::text_oarchive archive(file);
        archive << batch;
    }
    sql("INSERT INTO positions (trackable_id, trackable_uid, ts, x, y) VALUES (1, 'TWIN', '2024-05-01 "
        "12:00:00.000', 0, 1), (1, 'TWIN', '2024-05-01 12:00:00.000', 0, 1), (1, 'TWIN', '2024-05-01 "
        "12:00:01.000', 1, 1)");
    const auto d = start_daemon(write_config("upgrade.json", 60, 3));
    ASSERT_TRUE(eventually([&] { return !fs::exists(m_dir / "state" / "database.bin"); }, 30s)) << log(d);
    EXPECT_EQ(stop(d), 0);
    EXPECT_EQ(query("SELECT CONCAT(CAST(sum(c) AS CHAR), ' ', CAST(count(*) AS CHAR), ' ', "
                    "CAST(min(c) AS CHAR)) FROM (SELECT ts, count(*) AS c FROM positions GROUP BY ts) t"),
              "12 6 2\n")
        << "every second twice:\n"
        << log(d);
}

TEST_F(daemon_test, a_caught_up_daemon_sends_a_handful_of_statements_per_tick)
{
    auto questions = [&] {
        return std::stoll(split(query("SHOW GLOBAL STATUS LIKE 'Questions'"), '\t').at(1));
    };
    // A quiet feed: rows of the past only, every tick finds nothing new.
    load_recording("--tags 3 --seconds 30 --seed 2");
    auto d = start_daemon(write_config("idle.json", 1));
    ASSERT_TRUE(wait_until_caught_up(60s)) << log(d);
    long long before = questions();
    std::this_thread::sleep_for(5s);
    // Five ticks of 1 s; the test's own two queries are counted too.
    const long long quiet = (questions() - before - 2) / 5;
    EXPECT_EQ(stop(d), 0);

    // A live feed followed within the hold-back: every tick writes a piece and
    // then finds the rest of the window held back.
    fresh_state();
    d = start_daemon(write_config("idle.json", 1));
    const auto live_for = [&](std::chrono::seconds _duration) {
        int statements = 0;
        for (const auto start = std::chrono::steady_clock::now();
             std::chrono::steady_clock::now() - start < _duration; ++statements) {
            insert_live(3, 0);
            std::this_thread::sleep_for(200ms);
        }
        return statements;
    };
    live_for(14s);
    before = questions();
    const long long own = live_for(5s) + 2;
    const long long live = (questions() - before - own) / 5;
    EXPECT_EQ(stop(d), 0);
    // Measured: 4 and 13 (the server's time, the newest written time, the
    // productive window, the row count, BEGIN, the insert, COMMIT, four
    // doubling windows up to the present, the late-arrival count), plus the
    // writer lease's fence per piece and its renewal every third of the lease;
    // a slow build (sanitizers) sees a tick more or less per interval. What
    // must never come back is a hundred window queries per tick.
    EXPECT_LE(quiet, 8) << log(d);
    EXPECT_LE(live, 22) << log(d);
}

}  // namespace
