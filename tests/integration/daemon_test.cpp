// The trackmend daemon end to end: the real executable with a generated
// configuration, the private MariaDB server, real signals and kill -9. The
// reference for what positions must hold is batch mode over the same rows.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
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

struct test_server
{
    std::string host, port, user, password, name, dir;
};

std::optional<test_server> server_from_environment()
{
    auto get = [](const char* _name) -> std::string {
        const char* value = std::getenv(_name);
        return value ? value : "";
    };
    test_server s{get("TRACKMEND_TEST_DB_HOST"), get("TRACKMEND_TEST_DB_PORT"),
                  get("TRACKMEND_TEST_DB_USER"), get("TRACKMEND_TEST_DB_PASSWORD"),
                  get("TRACKMEND_TEST_DB_NAME"), get("TRACKMEND_TEST_DB_DIR")};
    if (s.host.empty() || s.port.empty() || s.user.empty() || s.name.empty()) return std::nullopt;
    return s;
}

struct command_result
{
    int status;
    std::string output;
};

command_result shell(const std::string& _command)
{
    command_result result{-1, {}};
    FILE* pipe = ::popen(_command.c_str(), "r");
    if (!pipe) return result;
    char buffer[65536];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, n);
    const int status = ::pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string read_file(const fs::path& _path)
{
    std::ifstream in(_path);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

std::vector<std::string> split(const std::string& _text, char _separator)
{
    std::vector<std::string> fields;
    std::string field;
    std::istringstream in(_text);
    while (std::getline(in, field, _separator)) fields.push_back(field);
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
    tm.tm_sec = 0;
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

row make_row(std::vector<std::string> _fields)
{
    std::string text;
    for (auto& f : _fields) {
        f.erase(0, f.find_first_not_of(' '));
        if (f.empty() || f == "NULL") f = "\\N";
        text += f + "|";
    }
    return {text, to_ms(_fields.at(2))};
}

// A daemon process started by a test; killed with SIGKILL if a test leaves
// it running.
struct daemon_process
{
    pid_t pid = -1;
    fs::path log;
};

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
        auto server = server_from_environment();
        if (!server) GTEST_SKIP() << "TRACKMEND_TEST_DB_* not set: no private MariaDB server to test against";
        m_server = *server;
        ::setenv("MYSQL_PWD", m_server.password.c_str(), 1);
        m_generator = fs::path(TRACKMEND_BINARY_DIR) / "tools" / "generate_positions";
        ASSERT_TRUE(fs::exists(m_generator)) << m_generator;

        m_dir = fs::temp_directory_path() / ("daemon_test_" + std::to_string(::getpid()) + "_" +
                                             ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(m_dir);
        fs::create_directories(m_dir / "state");
        sql("TRUNCATE TABLE positions_raw; TRUNCATE TABLE positions;");
    }

    void TearDown() override
    {
        for (auto& d : m_started)
            if (d.pid > 0 && ::kill(d.pid, 0) == 0) {
                ::kill(d.pid, SIGKILL);
                ::waitpid(d.pid, nullptr, 0);
            }
        if (m_dir.empty()) return;
        sql("TRUNCATE TABLE positions_raw; TRUNCATE TABLE positions;");
        if (!HasFailure()) fs::remove_all(m_dir);
    }

    std::string sql(const std::string& _statements)
    {
        const auto file = m_dir / "statement.sql";
        std::ofstream(file) << _statements;
        const auto result = shell("mariadb --protocol=TCP -h " + m_server.host + " -P " + m_server.port +
                                  " -u " + m_server.user + " --local-infile=1 -B -N " + m_server.name +
                                  " < " + file.string() + " 2>&1");
        EXPECT_EQ(result.status, 0) << _statements << "\n" << result.output;
        return result.output;
    }

    // Loads a generated recording into positions_raw and returns the same
    // rows as a batch input file (heartbeats included: batch mode skips every
    // kind but "UWB", as the daemon skips 'HB').
    fs::path load_recording(const std::string& _arguments)
    {
        const auto tsv = m_dir / "raw.tsv";
        const auto batch = m_dir / "batch.in";
        EXPECT_EQ(
            shell(m_generator.string() + " " + _arguments + " --format raw-tsv --out " + tsv.string()).status,
            0);
        sql("LOAD DATA LOCAL INFILE '" + tsv.string() +
            "' INTO TABLE positions_raw FIELDS TERMINATED BY '\\t' (trackable_id, trackable_uid, "
            "mac_address, ts, "
            "x, y, z, area_uid, project_uid, inactive, type);");
        std::ifstream in(tsv);
        std::ofstream out(batch);
        for (std::string line; std::getline(in, line);) {
            const auto f = split(line, '\t');
            out << f.at(1) << '|' << f.at(2) << '|' << f.at(3) << "|0|gen|\\N|\\N|\\N|" << f.at(10) << '|'
                << f.at(4) << '|' << f.at(5) << '|' << f.at(6) << '|' << f.at(7) << '|' << f.at(8) << '|'
                << f.at(9) << '\n';
        }
        return batch;
    }

    std::vector<row> batch_rows(const fs::path& _input)
    {
        const auto output = m_dir / "batch.out";
        EXPECT_EQ(shell(m_binary + " -s -i " + _input.string() + " -o " + output.string()).status, 0);
        std::vector<row> rows;
        std::ifstream in(output);
        for (std::string line; std::getline(in, line);) rows.push_back(make_row(split(line, '|')));
        return rows;
    }

    std::vector<row> written_rows()
    {
        std::vector<row> rows;
        std::istringstream in(
            sql("SELECT trackable_uid, mac_address, DATE_FORMAT(ts, '%Y-%m-%d %H:%i:%s.%f'), x, y, z, "
                "area_uid, project_uid, inactive FROM positions;"));
        for (std::string line; std::getline(in, line);) rows.push_back(make_row(split(line, '\t')));
        return rows;
    }

    long long newest_written_ms()
    {
        auto text = sql("SELECT DATE_FORMAT(max(ts), '%Y-%m-%d %H:%i:%s.%f') FROM positions;");
        return to_ms(text);
    }

    // A configuration whose settings may be overridden by key.
    fs::path write_config(const std::string& _name, std::map<std::string, std::string> _settings = {})
    {
        std::map<std::string, std::string> s{
            {"host", "\"" + m_server.host + "\""},
            {"port", m_server.port},
            {"pidfile", "\"" + (m_dir / "trackmend.pid").string() + "\""},
            {"persistent_data_dir", "\"" + (m_dir / "state").string() + "\""},
            {"debug", "false"},
            {"timer_period_sec", "1"},
            {"select_duration_sec", "60"},
            {"insert_piece_size", "1000"}};
        for (auto& [key, value] : _settings) s[key] = value;
        const auto path = m_dir / _name;
        std::ofstream(path) << "{\"dw\": {\"host\": " << s["host"] << ", \"user\": \"" << m_server.user
                            << "\", \"password\": \"" << m_server.password << "\", \"database\": \""
                            << m_server.name << "\", \"port\": " << s["port"] << "},\n \"system\": {"
                            << "\"persistent_data_dir\": " << s["persistent_data_dir"]
                            << ", \"pidfile\": " << s["pidfile"] << ", \"debug\": " << s["debug"]
                            << ", \"timer_period_sec\": " << s["timer_period_sec"]
                            << ", \"select_duration_sec\": " << s["select_duration_sec"]
                            << ", \"insert_piece_size\": " << s["insert_piece_size"] << "}}\n";
        return path;
    }

    daemon_process start_daemon(const fs::path& _config)
    {
        daemon_process d;
        d.log = m_dir / ("daemon" + std::to_string(m_started.size()) + ".log");
        posix_spawn_file_actions_t actions;
        ::posix_spawn_file_actions_init(&actions);
        ::posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, d.log.c_str(),
                                           O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
        std::string config = _config.string();
        std::vector<char*> argv{m_binary.data(), const_cast<char*>("-c"), config.data(), nullptr};
        EXPECT_EQ(::posix_spawn(&d.pid, m_binary.c_str(), &actions, nullptr, argv.data(), environ), 0);
        ::posix_spawn_file_actions_destroy(&actions);
        m_started.push_back(d);
        return d;
    }

    // The exit status, or -1 when the process is still running at the
    // deadline, or 128 + signal when a signal ended it.
    static int wait_exit(const daemon_process& _d, std::chrono::seconds _timeout)
    {
        const auto deadline = std::chrono::steady_clock::now() + _timeout;
        while (std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            if (::waitpid(_d.pid, &status, WNOHANG) == _d.pid)
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            std::this_thread::sleep_for(50ms);
        }
        return -1;
    }

    static int stop(const daemon_process& _d, int _signal = SIGTERM)
    {
        ::kill(_d.pid, _signal);
        return wait_exit(_d, 60s);
    }

    static bool eventually(const std::function<bool()>& _condition, std::chrono::seconds _timeout)
    {
        const auto deadline = std::chrono::steady_clock::now() + _timeout;
        while (std::chrono::steady_clock::now() < deadline) {
            if (_condition()) return true;
            std::this_thread::sleep_for(200ms);
        }
        return _condition();
    }

    // Caught up: nothing pending and the newest written time has not moved
    // for a few seconds while the daemon ran its timer.
    bool wait_until_caught_up(std::chrono::seconds _timeout)
    {
        long long newest = -1;
        int stable = 0;
        return eventually(
            [&] {
                const auto now = newest_written_ms();
                stable = now == newest && now > 0 && !fs::exists(m_dir / "state" / "database.bin")
                             ? stable + 1
                             : 0;
                newest = now;
                return stable >= 15;
            },
            _timeout);
    }

    // The daemon's rows are batch-mode rows, none twice, and every batch row
    // up to 4 s before the newest written time is there.
    void expect_batch_equivalent(const std::vector<row>& _written, const std::vector<row>& _batch)
    {
        ASSERT_FALSE(_written.empty());
        const std::multiset<row> batch(_batch.begin(), _batch.end());
        std::set<row> seen;
        long long newest = 0;
        int twice = 0, foreign = 0, missing = 0;
        for (const auto& r : _written) {
            if (!seen.insert(r).second && ++twice <= 5) ADD_FAILURE() << "written twice: " << r.text;
            if (!batch.count(r) && ++foreign <= 5) ADD_FAILURE() << "not a batch-mode row: " << r.text;
            newest = std::max(newest, r.ts_ms);
        }
        for (const auto& r : batch)
            if (r.ts_ms <= newest - 4000 && !seen.count(r) && ++missing <= 5)
                ADD_FAILURE() << "batch-mode row not written: " << r.text;
        EXPECT_EQ(twice + foreign + missing, 0)
            << twice << " duplicates, " << foreign << " foreign rows, " << missing << " missing rows";
    }

    static std::multiset<std::string> texts(const std::vector<row>& _rows)
    {
        std::multiset<std::string> result;
        for (const auto& r : _rows) result.insert(r.text);
        return result;
    }

    test_server m_server;
    std::string m_binary;
    fs::path m_generator;
    fs::path m_dir;
    std::vector<daemon_process> m_started;
};

TEST_F(daemon_test, catch_up_equals_batch_mode_for_any_window_length)
{
    const auto batch_input = load_recording("--tags 10 --seconds 60 --seed 3");
    const auto batch = batch_rows(batch_input);
    ASSERT_FALSE(batch.empty());

    for (const char* seconds : {"60", "1"}) {
        SCOPED_TRACE(std::string("select_duration_sec ") + seconds);
        sql("TRUNCATE TABLE positions;");
        fs::remove_all(m_dir / "state");
        fs::create_directories(m_dir / "state");
        const auto d = start_daemon(write_config("catch_up.json", {{"select_duration_sec", seconds}}));
        ASSERT_TRUE(wait_until_caught_up(120s)) << read_file(d.log);
        EXPECT_EQ(stop(d), 0) << read_file(d.log);
        const auto log = read_file(d.log);
        EXPECT_NE(log.find("Starting trackmend"), std::string::npos) << log;
        EXPECT_NE(log.find("main(int, char**)::<lambda()>: exit"), std::string::npos) << log;
        expect_batch_equivalent(written_rows(), batch);
    }
}

TEST_F(daemon_test, crashes_and_database_outages_leave_the_rows_of_an_uninterrupted_run)
{
    load_recording("--tags 20 --seconds 360 --seed 9");
    // Short windows and small statements make a long catch-up with many
    // pieces, each written by several INSERT statements.
    const auto config =
        write_config("crash.json", {{"select_duration_sec", "5"}, {"insert_piece_size", "40"}});

    const auto reference_daemon = start_daemon(config);
    ASSERT_TRUE(wait_until_caught_up(180s)) << read_file(reference_daemon.log);
    ASSERT_EQ(stop(reference_daemon), 0);
    const auto reference = texts(written_rows());
    const auto reference_newest = newest_written_ms();
    ASSERT_FALSE(reference.empty());

    // kill -9 at random moments, inserts included; restart each time.
    sql("TRUNCATE TABLE positions;");
    fs::remove_all(m_dir / "state");
    fs::create_directories(m_dir / "state");
    // Until the catch-up is complete, at most 30 times.
    std::mt19937 random(42);
    int kills = 0;
    while (kills < 30 && newest_written_ms() < reference_newest) {
        const auto d = start_daemon(config);
        std::this_thread::sleep_for(
            std::chrono::milliseconds(std::uniform_int_distribution<>(100, 700)(random)));
        ASSERT_EQ(stop(d, SIGKILL), 128 + SIGKILL);
        ++kills;
    }
    EXPECT_GE(kills, 3) << "the catch-up is too short to be interrupted";
    auto survivor = start_daemon(config);
    ASSERT_TRUE(wait_until_caught_up(180s)) << read_file(survivor.log);
    EXPECT_EQ(stop(survivor), 0);
    const auto after_crashes = texts(written_rows());
    EXPECT_EQ(after_crashes.size(), reference.size()) << "after " << kills << " kills";
    EXPECT_TRUE(after_crashes == reference)
        << "rows differ from the uninterrupted run after " << kills << " kills";

    // The server goes away in the middle of the catch-up and comes back.
    if (m_server.dir.empty())
        GTEST_SKIP() << "TRACKMEND_TEST_DB_DIR not set: the outage case needs to stop the server";
    sql("TRUNCATE TABLE positions;");
    fs::remove_all(m_dir / "state");
    fs::create_directories(m_dir / "state");
    const std::string server_script = std::string(TRACKMEND_SOURCE_DIR) + "/scripts/mariadb-test-server";
    const auto d = start_daemon(config);
    ASSERT_TRUE(eventually([&] { return newest_written_ms() > 0; }, 60s));
    EXPECT_LT(newest_written_ms(), reference_newest) << "the outage should interrupt the catch-up";
    ASSERT_EQ(shell(server_script + " stop " + m_server.dir + " 2>&1").status, 0);
    std::this_thread::sleep_for(3s);
    const auto restart = shell(server_script + " start " + m_server.dir + " " + m_server.port + " 2>&1");
    ASSERT_EQ(restart.status, 0) << restart.output;
    ASSERT_TRUE(wait_until_caught_up(180s)) << read_file(d.log);
    EXPECT_EQ(stop(d), 0);
    const auto log = read_file(d.log);
    EXPECT_NE(log.find("std::exception::what()"), std::string::npos) << "the failures are logged:\n" << log;
    EXPECT_TRUE(texts(written_rows()) == reference)
        << "rows differ from the uninterrupted run after an outage";
}

TEST_F(daemon_test, live_feed_is_followed_within_the_timer_period_and_the_hold_back)
{
    const auto d = start_daemon(write_config("live.json", {{"select_duration_sec", "5"}}));
    // A producer writes five tags at 5 Hz with the current time for 25 s.
    const auto start = std::chrono::steady_clock::now();
    long long worst_lag = 0;
    int samples = 0;
    while (std::chrono::steady_clock::now() - start < 25s) {
        std::string values;
        for (int tag = 0; tag < 5; ++tag)
            values += std::string(values.empty() ? "" : ", ") + "(" + std::to_string(tag) + ", 'L" +
                      std::to_string(tag) + "', NULL, UTC_TIMESTAMP(3), " + std::to_string(tag * 100) +
                      ", 7, 0, 'a', " + "'p', 0, 'UWB')";
        sql("INSERT INTO positions_raw (trackable_id, trackable_uid, mac_address, ts, x, y, z, area_uid, "
            "project_uid, inactive, type) VALUES " +
            values + ";");
        std::this_thread::sleep_for(200ms);
        if (std::chrono::steady_clock::now() - start > 16s) {
            const auto newest_raw =
                to_ms(sql("SELECT DATE_FORMAT(max(ts), '%Y-%m-%d %H:%i:%s.%f') FROM positions_raw;"));
            worst_lag = std::max(worst_lag, newest_raw - newest_written_ms());
            ++samples;
        }
    }
    EXPECT_EQ(stop(d), 0);
    ASSERT_GT(samples, 0);
    // Timer period 1 s, hold-back 10 s, and 2 s for the trimmed trailing
    // second and the time of one run.
    EXPECT_LE(worst_lag, 13000) << read_file(d.log);
}

TEST_F(daemon_test, failed_starts_are_logged_and_end_with_a_non_zero_status)
{
    // A second daemon on the same configuration is refused.
    const auto config = write_config("first.json");
    const auto first = start_daemon(config);
    ASSERT_TRUE(
        eventually([&] { return read_file(m_dir / "trackmend.pid") == std::to_string(first.pid); }, 30s));
    const auto second = start_daemon(config);
    EXPECT_EQ(wait_exit(second, 30s), 1);
    EXPECT_NE(read_file(second.log).find("Process is running"), std::string::npos) << read_file(second.log);
    EXPECT_EQ(::kill(first.pid, 0), 0) << "the first daemon is unaffected";
    EXPECT_EQ(read_file(m_dir / "trackmend.pid"), std::to_string(first.pid));
    EXPECT_EQ(stop(first), 0);

    // A missing and an invalid configuration.
    const auto missing = start_daemon(m_dir / "no-such-config.json");
    EXPECT_EQ(wait_exit(missing, 30s), 1);
    EXPECT_NE(read_file(missing.log).find("Cannot parse json: "), std::string::npos)
        << read_file(missing.log);
    std::ofstream(m_dir / "invalid.json") << R"({"dw": {"host": "127.0.0.1"}, "system": {}})";
    const auto invalid = start_daemon(m_dir / "invalid.json");
    EXPECT_EQ(wait_exit(invalid, 30s), 1);
    EXPECT_NE(read_file(invalid.log).find("Config file is invalid: "), std::string::npos)
        << read_file(invalid.log);
    EXPECT_EQ(read_file(invalid.log).find(": exit"), std::string::npos) << read_file(invalid.log);

    // SIGTERM while the database is unreachable ends start-up with
    // "Interrupted": a port on which nothing listens.
    const auto unreachable = start_daemon(write_config("unreachable.json", {{"port", "1"}}));
    // Past the start of the signal thread once the first attempt has failed.
    const auto lines = [&] {
        const auto text = read_file(unreachable.log);
        return std::count(text.begin(), text.end(), '\n');
    };
    ASSERT_TRUE(eventually([&] { return lines() >= 2; }, 30s)) << read_file(unreachable.log);
    EXPECT_EQ(stop(unreachable), 1);
    const auto log = read_file(unreachable.log);
    EXPECT_NE(log.find("Interrupted"), std::string::npos) << log;
    EXPECT_EQ(log.find(": exit"), std::string::npos) << log;
}

}  // namespace
