#pragma once

#include "database.hpp"

#include "core/background_file_write.hpp"
#include "core/events_loop.hpp"
#include "core/logger.hpp"

#include "store/node_address.hpp"
#include "store/pending_insert_file.hpp"
#include "store/read_ledger.hpp"
#include "store/window_reader_impl.hpp"
#include "store/writer_lease.hpp"

#include "mariadb++/bulk_rows.hpp"
#include "mariadb++/connection.hpp"
#include "mariadb++/date_time.hpp"

#include <boost/range/sub_range.hpp>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace zav {

// The position store over one MariaDB connection: reads positions_raw,
// writes positions. A write first records its batch, and how many rows
// positions held from the batch's earliest time on, in
// <persistent_data_dir>/database.bin; then it inserts the batch in pieces of
// insert_piece_size rows, each one bulk execution of a prepared INSERT in a
// transaction of its own (multi-row text INSERT where the server has no bulk
// execution). So the rows present after any interruption are a prefix of the
// batch whose length the row count gives exactly, and recover_if_failed()
// inserts the rest. The count holds whichever node received the write: a
// piece committed on a node that died is in the cluster or not at all.
//
// The connection goes to the first node of the list that serves, at start-up
// and after every lost connection; on a Galera node reads wait for the
// cluster's earlier commits (store/galera_session.hpp). Writing needs the
// writer lease of the database (store/writer_lease.hpp): recover_if_failed(),
// called at the start of every run, waits until this daemon holds it, and
// each piece's transaction also checks the lease (the fence).
//
// Every database failure is thrown as store_error located at the store
// operation that caught it. Not thread-safe: one thread at a time (the
// daemon reads windows ahead through a window_reader_impl, on a connection
// of its own, on another thread).
class database_impl : public database
{
public:
    using timestamp = database::timestamp;
    using logger = zav::libs::core::logger;
    using signals_handle = zav::libs::core::events_loop::signals_handle;

    // How long the writer lease lasts unrenewed unless the caller says.
    static constexpr std::chrono::seconds default_lease_duration{10};

    // Returns only once connected to one of _nodes (tried in order; not
    // empty): a failed attempt is logged (see retry_until_signalled, which
    // also throws at once what no wait mends) and repeated after 5 seconds,
    // until a termination signal has arrived; then the next failed attempt
    // throws "Interrupted". Throws at once when _insert_piece_size is
    // below 1. _signals and _logger must outlive the store. _lease_duration
    // bounds the take-over by another daemon after this one died. With _tls
    // every connection is encrypted and verifies the server.
    database_impl(const node_addresses& _nodes, const std::string& _user_name, const std::string& _password,
                  const std::string& _schema, const signals_handle& _signals, const logger& _logger,
                  int _insert_piece_size, const std::string& _persistent_data_dir,
                  std::chrono::seconds _lease_duration = default_lease_duration,
                  const std::optional<mariadb::tls_settings>& _tls = std::nullopt);
    // Lets the writer lease go, so that a waiting daemon takes over at once.
    ~database_impl() override;

    // Waits first until this daemon holds the writer lease (logging once, at
    // info level, which daemon holds it meanwhile); throws "Interrupted" when
    // a termination signal ends the wait.
    void recover_if_failed() override;
    boost::optional<timestamp> get_last_position_timestamp() const override;
    boost::optional<timestamp> get_first_raw_position_timestamp() const override;
    boost::optional<timestamp> get_next_raw_position_timestamp(timestamp _timestamp) const override;
    // Bounds apply to the millisecond instants that rows map to, so a raw
    // time of .007999 counts as .007. A raw row with NULL in trackable_id,
    // trackable_uid or ts, or with a value that does not convert, is skipped
    // with a warning.
    positions_vector get_raw_positions(timestamp _from, std::chrono::seconds _duration) const override;
    void clear_positions_table() override;
    bool has_position(const position& _position) const override;
    std::map<std::string, long long> count_positions_at(timestamp _ts) const override;
    // Takes the writer lease first unless this store holds it; throws when
    // another daemon does. It does not wait: a batch computed while another
    // daemon wrote is stale.
    void write_positions(const positions_vector& _positions, const read_range& _read) override;
    late_rows find_late_rows(timestamp _newest_written, timestamp _horizon_start) override;
    positions_vector get_raw_range(timestamp _after, timestamp _until) const override;
    std::vector<ledger_range> get_ledger_ranges(timestamp _after, timestamp _until,
                                                bool _late_only) const override;
    replaced_positions replace_positions(timestamp _after, timestamp _until,
                                         const positions_vector& _positions,
                                         const std::vector<ledger_range>& _processed,
                                         bool _as_writer) override;
    timestamp get_server_time() const override;
    raw_outliers find_raw_outliers(timestamp _future_after) const override;

private:
    long long count_positions_from(timestamp _from) const;
    // How many leading rows of _write are in positions.
    std::size_t present_prefix(const pending_insert_file::pending_write& _write) const;
    // The same for a batch recorded by the text format, which has no row
    // count: the longest prefix whose rows positions holds, duplicates
    // counted as often as they occur.
    std::size_t present_prefix_without_count(const positions_vector& _positions) const;
    // Inserts _positions from _begin on, piece by piece, each in a
    // transaction of its own with the fence of the writer lease. With
    // _before_first_commit, the first piece commits only after that write is
    // done, and not at all when it failed.
    void insert_pieces(const positions_vector& _positions, std::size_t _begin,
                       libs::core::background_file_write* _before_first_commit = nullptr);
    boost::optional<timestamp> query_single_timestamp(const std::string& _sql) const;
    // Takes or renews the writer lease. While another daemon holds it: waits
    // (polling, until a termination signal: "Interrupted") when _wait is
    // true, throws otherwise. Database failures are thrown.
    void take_writer_lease(bool _wait);
    // Runs _f inside a transaction that also renews the writer lease (the
    // fence): both commit or neither. A failure rolls back and is thrown.
    void in_fenced_transaction(const std::function<void()>& _f);
    // The same for a process that is not the writer: the transaction locks
    // the lease row instead of renewing it.
    void in_locked_transaction(const std::function<void()>& _f);
    // Asks the server once whether it executes bulk inserts.
    void find_out_bulk();
    // One INSERT of the whole range, inside the piece's open transaction.
    void insert_piece(boost::sub_range<const positions_vector> _range);

    mariadb::connection_ref m_connection;
    const signals_handle& m_signals;
    const logger& m_logger;
    std::unique_ptr<writer_lease> m_lease;
    std::unique_ptr<read_ledger> m_ledger;
    // The windows are read through it, on the store's connection.
    std::unique_ptr<window_reader_impl> m_reader;
    // Whether the lease was held at the last try, so that a change is logged
    // once.
    bool m_lease_held = false;
    std::chrono::seconds m_lease_duration;
    // When a run next renews the lease it holds.
    std::chrono::steady_clock::time_point m_lease_renew_due;
    int m_insert_piece_size;
    // <persistent_data_dir>/database.bin, the pending-insert file.
    std::string m_pending_file;
    // Whether the server executes bulk inserts; unknown until the first write.
    boost::optional<bool> m_bulk;
    mariadb::bulk_rows m_bulk_rows;
};

}  // namespace zav
