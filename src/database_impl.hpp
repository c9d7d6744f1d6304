#pragma once

#include "database.hpp"

#include "core/events_loop.hpp"
#include "core/logger.hpp"

#include "store/pending_insert_file.hpp"

#include "mariadb++/account.hpp"
#include "mariadb++/bulk_rows.hpp"
#include "mariadb++/connection.hpp"
#include "mariadb++/date_time.hpp"

#include <boost/range/sub_range.hpp>

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
// inserts the rest.
//
// Every database failure is thrown as zav::libs::core::exception located at
// the store operation that caught it. Single-threaded.
class database_impl : public database
{
public:
    using timestamp = database::timestamp;
    using logger = zav::libs::core::logger;
    using signals_handle = zav::libs::core::events_loop::signals_handle;

    // Returns only once connected: a failed attempt is logged at error level
    // and repeated after 5 seconds, until a termination signal has arrived;
    // then the next failed attempt throws "Interrupted". Throws at once when
    // _insert_piece_size is below 1. _signals and _logger must outlive the
    // store.
    database_impl(const std::string& _host_name, const std::string& _user_name, const std::string& _password,
                  const std::string& _schema, unsigned int _port, const signals_handle& _signals,
                  const logger& _logger, int _insert_piece_size, const std::string& _persistent_data_dir);

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
    void write_positions(const positions_vector& _positions) override;
    timestamp get_server_time() const override;
    long long count_raw_positions(timestamp _after, timestamp _until) const override;
    raw_outliers find_raw_outliers(timestamp _future_after) const override;

private:
    long long count_positions_from(timestamp _from) const;
    // How many leading rows of _write are in positions.
    std::size_t present_prefix(const pending_insert_file::pending_write& _write) const;
    // The same for a batch recorded by the text format, which has no row
    // count: the longest prefix whose rows positions holds, duplicates
    // counted as often as they occur.
    std::size_t present_prefix_without_count(const positions_vector& _positions) const;
    // Inserts _positions from _begin on, piece by piece.
    void insert_pieces(const positions_vector& _positions, std::size_t _begin);
    boost::optional<timestamp> query_single_timestamp(const std::string& _sql) const;
    // One piece: one transaction with one INSERT of the whole range.
    void write_positions_impl(boost::sub_range<const positions_vector> _range);
    // Runs inside the piece's transaction before its INSERT; a check that
    // this process may still write belongs here.
    void before_piece_insert();
    bool has_position(const position& _position) const;

    mariadb::account_ref m_account;
    mariadb::connection_ref m_connection;
    const logger& m_logger;
    int m_insert_piece_size;
    std::string m_persistent_data_file;
    // Whether the server executes bulk inserts; unknown until the first write.
    boost::optional<bool> m_bulk;
    mariadb::bulk_rows m_bulk_rows;
};

}  // namespace zav
