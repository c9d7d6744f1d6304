#include "support/daemon_harness.hpp"

#include "support/files.hpp"
#include "support/mariadb_test_server.hpp"
#include "support/process.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace trackmend_test {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

std::vector<std::string> split(const std::string& _text, char _separator)
{
    std::vector<std::string> fields;
    std::istringstream in(_text);
    for (std::string field; std::getline(in, field, _separator);) fields.push_back(field);
    if (!_text.empty() && _text.back() == _separator) fields.emplace_back();
    return fields;
}

}  // namespace

long long utc_text_to_ms(const std::string& _ts)
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

std::vector<position_row> parse_position_rows(const std::string& _text, char _separator)
{
    std::vector<position_row> rows;
    std::istringstream in(_text);
    for (std::string line; std::getline(in, line);) {
        auto fields = split(line, _separator);
        std::string text;
        for (auto& f : fields) {
            f.erase(0, f.find_first_not_of(' '));
            text += (f.empty() || f == "NULL" ? "\\N" : f) + "|";
        }
        rows.push_back({text, utc_text_to_ms(fields.at(2))});
    }
    return rows;
}

std::multiset<std::string> row_texts(const std::vector<position_row>& _rows)
{
    std::multiset<std::string> result;
    for (const auto& r : _rows) result.insert(r.text);
    return result;
}

daemon_harness::daemon_harness(fs::path _dir, sql_endpoint _endpoint)
    : m_dir(std::move(_dir)),
      m_endpoint(std::move(_endpoint)),
      m_binary(TRACKMEND_BINARY),
      m_generator(fs::path(TRACKMEND_BINARY_DIR) / "tools" / "generate_positions")
{
    // Another build of the daemon, for instance an older version to show
    // that a test catches what it was written for.
    if (const char* other = std::getenv("TRACKMEND_TEST_DAEMON")) m_binary = other;
    fs::remove_all(m_dir);
    fs::create_directories(m_dir);
    m_db =
        mariadb_test_server{
            m_endpoint.host, m_endpoint.port, m_endpoint.user, m_endpoint.password, m_endpoint.schema, "", ""}
            .connect();
}

daemon_harness::~daemon_harness()
{
    for (std::size_t d = 0; d < m_started.size(); ++d)
        if (m_started[d] > 0) stop(d, SIGKILL);
}

void daemon_harness::sql(const std::string& _statements) const
{
    try {
        m_db->execute(_statements);
    } catch (const std::exception& e) {
        ADD_FAILURE() << _statements << "\n" << e.what();
    }
}

std::string daemon_harness::query(const std::string& _query) const
{
    try {
        return mariadb_test_server::query_text(*m_db, _query);
    } catch (const std::exception& e) {
        ADD_FAILURE() << _query << "\n" << e.what();
        return {};
    }
}

std::vector<std::string> daemon_harness::generate(const std::string& _arguments) const
{
    const auto tsv = m_dir / "raw.tsv";
    EXPECT_EQ(
        run_command(m_generator.string() + " " + _arguments + " --format raw-tsv --out " + tsv.string()), 0);
    auto lines = split(read_file(tsv), '\n');
    if (!lines.empty() && lines.back().empty()) lines.pop_back();
    return lines;
}

void daemon_harness::insert_raw_lines(const std::vector<std::string>& _lines) const
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
            values += (i ? "," : "") + (f[i] == "\\N" ? std::string("NULL") : "'" + m_db->escape(f[i]) + "'");
        values += ")";
        if (++rows % 1000 == 0) {
            sql(head + values);
            values.clear();
        }
    }
    if (!values.empty()) sql(head + values);
}

std::vector<std::string> daemon_harness::raw_lines(const std::string& _where) const
{
    auto lines = split(query("SELECT CAST(trackable_id AS CHAR), trackable_uid, mac_address, DATE_FORMAT(ts, "
                             "'%Y-%m-%d %H:%i:%s.%f'), CAST(x AS CHAR), CAST(y AS CHAR), CAST(z AS CHAR), "
                             "area_uid, project_uid, CAST(inactive AS CHAR), type FROM positions_raw WHERE " +
                             _where + " ORDER BY ts, id"),
                       '\n');
    if (!lines.empty() && lines.back().empty()) lines.pop_back();
    for (auto& line : lines) {
        auto f = split(line, '\t');
        line.clear();
        for (std::size_t i = 0; i < f.size(); ++i) line += (i ? "\t" : "") + (f[i] == "NULL" ? "\\N" : f[i]);
    }
    return lines;
}

fs::path daemon_harness::batch_input(const std::vector<std::string>& _lines) const
{
    const auto batch = m_dir / "batch.in";
    std::ofstream out(batch);
    for (const auto& line : _lines) {
        const auto f = split(line, '\t');
        out << f.at(1) << '|' << f.at(2) << '|' << f.at(3) << "|0|gen|\\N|\\N|\\N|" << f.at(10);
        for (int i = 4; i <= 9; ++i) out << '|' << f.at(i);
        out << '\n';
    }
    return batch;
}

fs::path daemon_harness::load_recording(const std::string& _arguments) const
{
    const auto lines = generate(_arguments);
    insert_raw_lines(lines);
    return batch_input(lines);
}

void daemon_harness::insert_live(int _tags, long long _offset_ms, const std::string& _prefix) const
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

long long daemon_harness::server_now_ms() const
{
    return utc_text_to_ms(query("SELECT DATE_FORMAT(UTC_TIMESTAMP(3), '%Y-%m-%d %H:%i:%s.%f')"));
}

std::vector<position_row> daemon_harness::batch_rows(const fs::path& _input) const
{
    const auto output = m_dir / "batch.out";
    EXPECT_EQ(run_command(m_binary + " -s -i " + _input.string() + " -o " + output.string()), 0);
    return parse_position_rows(read_file(output), '|');
}

std::vector<position_row> daemon_harness::written_rows() const
{
    return parse_position_rows(
        query(
            "SELECT trackable_uid, mac_address, DATE_FORMAT(ts, '%Y-%m-%d %H:%i:%s.%f'), CAST(x AS CHAR), "
            "CAST(y AS CHAR), CAST(z AS CHAR), area_uid, project_uid, CAST(inactive AS CHAR) FROM positions"),
        '\t');
}

long long daemon_harness::newest_ms(const std::string& _table) const
{
    return utc_text_to_ms(query("SELECT DATE_FORMAT(max(ts), '%Y-%m-%d %H:%i:%s.%f') FROM " + _table));
}

fs::path daemon_harness::write_config(const std::string& _name, const std::string& _dw_keys,
                                      const fs::path& _state_dir, const fs::path& _pid_file,
                                      int _select_duration_sec, int _insert_piece_size,
                                      const std::string& _system_keys) const
{
    fs::create_directories(_state_dir);
    const auto path = m_dir / _name;
    std::ofstream(path) << "{\"dw\": {" << _dw_keys << ", \"user\": \"" << m_endpoint.user
                        << "\", \"password\": \"" << m_endpoint.password << "\", \"database\": \""
                        << m_endpoint.schema << "\"},\n \"system\": {\"persistent_data_dir\": \""
                        << _state_dir.string() << "\", \"pidfile\": \"" << _pid_file.string()
                        << "\", \"debug\": false, \"timer_period_sec\": 1, \"select_duration_sec\": "
                        << _select_duration_sec << ", \"insert_piece_size\": " << _insert_piece_size
                        << _system_keys << "}}\n";
    return path;
}

std::size_t daemon_harness::start_daemon(const fs::path& _config)
{
    const auto log = m_dir / ("daemon" + std::to_string(m_started.size()) + ".log");
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

std::string daemon_harness::log(std::size_t _daemon) const
{
    return read_file(m_dir / ("daemon" + std::to_string(_daemon) + ".log"));
}

int daemon_harness::wait_exit(std::size_t _daemon, std::chrono::seconds _timeout)
{
    int status = 0;
    const bool ended = eventually(
        [&] { return ::waitpid(m_started[_daemon], &status, WNOHANG) == m_started[_daemon]; }, _timeout);
    if (ended) m_started[_daemon] = -1;  // reaped: never signalled again
    return !ended ? -1 : WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int daemon_harness::stop(std::size_t _daemon, int _signal)
{
    if (m_started[_daemon] > 0) ::kill(m_started[_daemon], _signal);
    return wait_exit(_daemon);
}

std::size_t daemon_harness::count(const std::string& _text, const std::string& _what)
{
    std::size_t n = 0;
    for (auto at = _text.find(_what); at != std::string::npos; at = _text.find(_what, at + 1)) ++n;
    return n;
}

bool daemon_harness::eventually(const std::function<bool()>& _condition, std::chrono::milliseconds _timeout)
{
    for (const auto deadline = std::chrono::steady_clock::now() + _timeout;
         std::chrono::steady_clock::now() < deadline; std::this_thread::sleep_for(50ms))
        if (_condition()) return true;
    return false;
}

bool daemon_harness::wait_until_caught_up(const fs::path& _state_dir, std::chrono::seconds _timeout) const
{
    long long newest = -1;
    int stable = 0;
    return eventually(
        [&] {
            const auto now = newest_ms();
            const bool same = now == newest && now > 0 && !fs::exists(_state_dir / "database.bin");
            stable = same ? stable + 1 : 0;
            newest = now;
            std::this_thread::sleep_for(150ms);
            return stable >= 15;
        },
        _timeout);
}

daemon_harness::comparison daemon_harness::expect_batch_equivalent(const std::vector<position_row>& _written,
                                                                   const std::vector<position_row>& _batch)
{
    EXPECT_FALSE(_written.empty());
    const std::multiset<position_row> batch(_batch.begin(), _batch.end());
    std::multiset<position_row> seen;
    long long newest = 0;
    comparison result;
    for (const auto& r : _written) {
        seen.insert(r);
        if (!batch.count(r)) {
            if (++result.foreign <= 5) ADD_FAILURE() << "not a batch-mode row: " << r.text;
        } else if (seen.count(r) > batch.count(r) && ++result.twice <= 5) {
            ADD_FAILURE() << "written twice: " << r.text;
        }
        newest = std::max(newest, r.ts_ms);
    }
    for (const auto& r : batch)
        if (r.ts_ms <= newest - 4000 && seen.count(r) < batch.count(r) && ++result.missing <= 5)
            ADD_FAILURE() << "batch-mode row not written: " << r.text;
    EXPECT_EQ(result.twice + result.foreign + result.missing, 0)
        << result.twice << " duplicates, " << result.foreign << " foreign rows, " << result.missing
        << " missing rows";
    return result;
}

}  // namespace trackmend_test
