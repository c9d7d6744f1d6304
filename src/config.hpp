#pragma once

#include "store/node_address.hpp"

#include "mariadb++/account.hpp"

#include <cstdint>
#include <istream>
#include <optional>
#include <string>
#include <vector>

namespace zav {

// The daemon's settings, read once from its JSON configuration file and not
// changed afterwards. Every key is required; there are no defaults.
struct config
{
    // Reads the whole document from the stream. Throws std::runtime_error
    // "Cannot parse json: ..." when the stream holds no valid (strict) JSON,
    // with the line and column of the problem, and zav::libs::core::exception
    // "Config file is invalid: ..." listing every missing or mistyped setting
    // (one line each), or else every value out of range, each naming its
    // setting: a number beyond int, a port outside 1..65535, an empty
    // persistent_data_dir, a timer period or window length outside 1 s to one
    // day, an insert piece size below 1, a relative persistent_data_dir or
    // pidfile.
    // "dw"/"hosts" replaces "dw"/"host" and "dw"/"port"; a file with both
    // is invalid. "dw"/"password_file" replaces "dw"/"password" (exactly one
    // of them); its file is read here.
    explicit config(std::istream& _stream);

    // Reads the file _path as the constructor reads a stream. A file that
    // cannot be read throws std::runtime_error "Cannot parse json: cannot read
    // <_path>: <system error>". Warns, besides, when the file holds the
    // password and every user may read it.
    static config from_file(const std::string& _path);

    struct
    {
        std::string host;
        std::string user;
        std::string password;
        std::string database;
        std::uint32_t port = 0;
        // The nodes of "dw"/"hosts", tried in order; empty when the file
        // names one server with host and port (which are then empty and 0).
        node_addresses hosts;
        // The file the password was read from; empty when it stands in the
        // configuration.
        std::string password_file;
        // When set, every connection is encrypted and verifies the server.
        std::optional<mariadb::tls_settings> tls;
    } dw;

    struct
    {
        std::string persistent_data_dir;
        std::string pidfile_path;
        bool debug = false;
        int timer_period_sec = 0;
        int select_duration_sec = 0;
        int insert_piece_size = 0;
        // Optional: how many seconds raw rows may arrive after their time and
        // still be processed in order; windows stay this far behind the
        // database server's present.
        int max_lateness_sec = 0;
        // Optional: how far back in written time raw rows that arrived late
        // are looked for.
        int late_horizon_sec = 86400;
        // Optional: whether the positions around late rows are recomputed
        // and replaced (positions is then no longer append-only).
        bool repair_late_rows = false;
    } system;

    // What the daemon logs at start, and --check-config prints, as warnings:
    // keys that nothing reads, a password readable by every user.
    std::vector<std::string> warnings;
};

}  // namespace zav
