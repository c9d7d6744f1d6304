#pragma once

#include "store/node_address.hpp"
#include "store/raw_window_tail.hpp"
#include "store/window_reader.hpp"

#include "core/logger.hpp"

#include "mariadb++/bulk_rows.hpp"
#include "mariadb++/connection.hpp"

#include <memory>
#include <string>
#include <vector>

namespace zav {

// The window SELECT over one MariaDB connection, and the backlog count. The
// store reads its own windows through one on its connection; the daemon
// reads ahead and counts the backlog through others, each on a connection of
// its own (connect()).
//
// Raw times may carry microseconds, but the store's instants are whole
// milliseconds (truncated), so bounds compare truncated times: "later than
// t" is ts >= t + 1 ms, and "not later than t" is ts < t + 1 ms. Compared on
// the raw value instead, a row at .007999 would count as later than the
// window that ended at its own instant .007, and be read twice.
class window_reader_impl : public window_reader
{
public:
    // Over _connection, which must outlive the reader, as must _logger.
    window_reader_impl(mariadb::connection& _connection, const libs::core::logger& _logger);
    // A reader with a connection of its own to the first of _accounts that
    // serves; it connects at its first statement and again after a lost
    // session. With _store_sessions its sessions are prepared and logged as
    // the store's are (the window read ahead must see what other nodes
    // committed); without, they are plain (the backlog of progress reports,
    // a figure for the eye).
    static std::unique_ptr<window_reader_impl> connect(std::vector<mariadb::account_ref> _accounts,
                                                       const libs::core::logger& _logger,
                                                       bool _store_sessions);

    // A raw row with NULL in trackable_id, trackable_uid or ts, or with a
    // value that does not convert, is skipped with a warning.
    positions_vector get_raw_positions(timestamp _from, std::chrono::seconds _duration) override;
    // Raw positions with _after < ts <= _until, heartbeats excluded, in time
    // order, the newest second included: for recomputing written time.
    positions_vector get_raw_range(timestamp _after, timestamp _until);
    boost::optional<backlog> backlog_after(timestamp _newest_written) noexcept override;

    // The window SELECT of the raw rows of (_after, _until], through the ts
    // index when _index_hint is set, with its bounds written in (for
    // EXPLAIN). The reader runs it as raw_window_statement.
    static std::string raw_window_query(timestamp _after, timestamp _until, bool _index_hint);
    // The same SELECT as a prepared statement: the bounds are its two
    // DATETIME parameters, ts >= ? and ts < ?.
    static std::string raw_window_statement(bool _index_hint);

private:
    // A reader with a connection of its own sets the store's character set
    // before its first statement.
    void set_charset_once();
    // Appends the raw rows of (_after, _until] to _into in the server's
    // order, through the binary protocol.
    void read_raw_window(timestamp _after, timestamp _until, positions_vector& _into);

    mariadb::connection_ref m_own_connection;
    mariadb::connection& m_connection;
    const libs::core::logger& m_logger;
    // The newest rows of the last window, which the next one reads again.
    raw_window_tail m_raw_tail;
    // The two bounds of the window SELECT, refilled for every window.
    mariadb::bulk_rows m_window_bounds{
        {mariadb::bulk_rows::kind::date_time, mariadb::bulk_rows::kind::date_time}};
    // Rows the last window SELECT returned.
    std::size_t m_last_window_rows = 0;
    // Cleared for good when positions_raw lacks the index of sql/schema.sql.
    bool m_ts_index_hint = true;
    bool m_charset_pending = false;
};

}  // namespace zav
