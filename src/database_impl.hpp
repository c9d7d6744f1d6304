#pragma once

#include "database.hpp"

#include "core/events_loop.hpp"
#include "core/logger.hpp"

#include "mariadb++/account.hpp"
#include "mariadb++/connection.hpp"
#include "mariadb++/date_time.hpp"

#include <boost/range/sub_range.hpp>

#include <string>

namespace zav {

// The position store over one MariaDB connection: reads positions_raw,
// writes positions. Statements are plain text, each sent by itself (no
// transactions); string values are escaped by the connection. A write first
// archives its batch in <persistent_data_dir>/database.bin, so that
// recover_if_failed() can complete it after a crash or a failed statement.
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

private:
    boost::optional<timestamp> query_single_timestamp(const std::string& _sql) const;
    // One INSERT statement of the whole range.
    void write_positions_impl(boost::sub_range<const positions_vector> _range);
    bool has_position(const position& _position);
    void save_positions_to_persistent_file(const positions_vector& _positions);
    positions_vector get_positions_from_persistent_file() const;

    mariadb::account_ref m_account;
    mariadb::connection_ref m_connection;
    const logger& m_logger;
    int m_insert_piece_size;
    std::string m_persistent_data_file;
};

}  // namespace zav
