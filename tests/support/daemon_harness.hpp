#pragma once

// The trackmend daemon end to end: the real executable, generated recordings
// loaded into positions_raw, batch mode over the same rows as the reference,
// and the rows the daemon wrote, through the C API of the MariaDB layer.

#include "mariadb++/connection.hpp"

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace trackmend_test {

// One position in a form both batch output and the table give: uid, mac,
// time with six fraction digits, x, y, z, area, project, inactive; absent
// values (NULL, "\N" or empty) as "\N".
struct position_row
{
    std::string text;
    long long ts_ms;
    bool operator<(const position_row& _other) const { return text < _other.text; }
};

std::vector<position_row> parse_position_rows(const std::string& _text, char _separator);
std::multiset<std::string> row_texts(const std::vector<position_row>& _rows);
// "YYYY-MM-DD hh:mm:ss.ffffff" (UTC) as milliseconds since the epoch; 0 when
// unreadable.
long long utc_text_to_ms(const std::string& _ts);

// Where the harness connects (a server or one node of a cluster).
struct sql_endpoint
{
    std::string host;
    unsigned int port = 0;
    std::string user, password, schema;
};

// Daemons started here are killed (SIGKILL) when the harness goes.
class daemon_harness
{
public:
    // _dir is created; _endpoint is where statements go unless told otherwise.
    daemon_harness(std::filesystem::path _dir, sql_endpoint _endpoint);
    daemon_harness(const daemon_harness&) = delete;
    daemon_harness& operator=(const daemon_harness&) = delete;
    ~daemon_harness();

    const std::filesystem::path& dir() const { return m_dir; }

    // Runs statements that return no rows (several separated by ';'); a
    // failure is a test failure. The session reconnects by itself.
    void sql(const std::string& _statements) const;
    // The rows of a query as tab-separated text, NULL as "NULL" (numbers and
    // times CAST to text).
    std::string query(const std::string& _query) const;

    // Raw rows as the generator's raw-tsv lines: trackable_id, uid, mac, ts,
    // x, y, z, area, project, inactive, type, tab-separated, "\N" for NULL.
    // A generated recording (tools/generate_positions arguments):
    std::vector<std::string> generate(const std::string& _arguments) const;
    void insert_raw_lines(const std::vector<std::string>& _lines) const;
    // Every raw row matching _where, in time order.
    std::vector<std::string> raw_lines(const std::string& _where = "1") const;
    // The same rows as a batch input file (heartbeats included: batch mode
    // skips every kind but "UWB", as the daemon skips 'HB').
    std::filesystem::path batch_input(const std::vector<std::string>& _lines) const;
    // Loads a generated recording into positions_raw and returns the same
    // rows as a batch input file.
    std::filesystem::path load_recording(const std::string& _arguments) const;
    // Rows of _tags tags named _prefix0, _prefix1, ... dated _offset_ms from
    // the server's present, as a live producer writes them.
    void insert_live(int _tags, long long _offset_ms, const std::string& _prefix = "L") const;
    long long server_now_ms() const;
    // What batch mode makes of a batch input file.
    std::vector<position_row> batch_rows(const std::filesystem::path& _input) const;
    std::vector<position_row> written_rows() const;
    long long newest_ms(const std::string& _table = "positions") const;

    // A configuration file: _dw_keys is the inside of the "dw" object without
    // user, password and database (for example "\"hosts\": [...]");
    // _system_keys are further members of "system", each with a leading ", ".
    std::filesystem::path write_config(const std::string& _name, const std::string& _dw_keys,
                                       const std::filesystem::path& _state_dir,
                                       const std::filesystem::path& _pid_file, int _select_duration_sec,
                                       int _insert_piece_size, const std::string& _system_keys = "") const;

    // Starts the daemon with its output in daemon<n>.log; returns n.
    std::size_t start_daemon(const std::filesystem::path& _config);
    std::string log(std::size_t _daemon) const;
    pid_t pid(std::size_t _daemon) const { return m_started.at(_daemon); }
    // The exit status, -1 when still running at the deadline, 128 + signal
    // when a signal ended it.
    int wait_exit(std::size_t _daemon, std::chrono::seconds _timeout = std::chrono::seconds(60));
    int stop(std::size_t _daemon, int _signal);

    // How often _what occurs in _text (a log).
    static std::size_t count(const std::string& _text, const std::string& _what);
    static bool eventually(const std::function<bool()>& _condition, std::chrono::milliseconds _timeout);
    // Nothing pending in _state_dir and the newest written time unchanged for
    // three seconds.
    bool wait_until_caught_up(const std::filesystem::path& _state_dir, std::chrono::seconds _timeout) const;

    // Counts of rows written more often than batch mode gives them, rows
    // batch mode does not give, and batch rows up to 4 s before the newest
    // written time that are missing; the first few of each, and a summary
    // when any is not zero, are reported as test failures.
    struct comparison
    {
        int twice = 0, foreign = 0, missing = 0;
    };
    static comparison expect_batch_equivalent(const std::vector<position_row>& _written,
                                              const std::vector<position_row>& _batch);

private:
    std::filesystem::path m_dir;
    sql_endpoint m_endpoint;
    mariadb::connection_ref m_db;
    std::string m_binary;
    std::filesystem::path m_generator;
    std::vector<pid_t> m_started;
};

}  // namespace trackmend_test
