#include "database_impl.hpp"

#include "pipeline/constants.hpp"
#include "store/bulk_insert.hpp"
#include "store/galera_session.hpp"
#include "store/located_errors.hpp"
#include "store/node_accounts.hpp"
#include "store/raw_position_reader.hpp"
#include "store/retry_until_signalled.hpp"
#include "store/row_time.hpp"
#include "store/trailing_second_trim.hpp"
#include "store/writer_id.hpp"

#include "core/exception.hpp"

#include "mariadb++/binary_row.hpp"
#include "mariadb++/exceptions.hpp"
#include "mariadb++/result_set.hpp"

#include <mysqld_error.h>

#include <boost/format.hpp>

#include <algorithm>
#include <chrono>
#include <iterator>
#include <stdexcept>

namespace zav {

namespace {

// How often a waiting daemon tries the writer lease: the take-over after the
// holder stopped comes within this, after it died within the lease's
// duration plus this.
constexpr std::chrono::seconds lease_retry_interval(1);

// Raw times may carry microseconds, but the store's instants are whole
// milliseconds (truncated), so the window bounds compare truncated times:
// "later than t" is ts >= t + 1 ms, and "not later than t" is ts < t + 1 ms.
// Compared on the raw value instead, a row at .007999 would count as later
// than the window that ended at its own instant .007, and be read twice.
constexpr std::chrono::milliseconds one_millisecond(1);

}  // namespace

database_impl::database_impl(const node_addresses& _nodes, const std::string& _user_name,
                             const std::string& _password, const std::string& _schema,
                             const signals_handle& _signals, const logger& _logger, int _insert_piece_size,
                             const std::string& _persistent_data_dir, std::chrono::seconds _lease_duration,
                             const std::optional<mariadb::tls_settings>& _tls)
    : m_signals(_signals),
      m_logger(_logger),
      m_lease_duration(_lease_duration),
      m_insert_piece_size(_insert_piece_size),
      m_pending_file(_persistent_data_dir + "/database.bin"),
      m_bulk_rows(bulk_insert::make_rows())
{
    if (m_insert_piece_size < 1)
        throw libs::core::exception(
            (boost::format("insert_piece_size must be at least 1, not %1%") % m_insert_piece_size).str(),
            CORE_SOURCE_LOCATION);
    if (_nodes.empty()) throw libs::core::exception("No database node to connect to", CORE_SOURCE_LOCATION);

    // The logger outlives the store and with it the connection.
    m_connection = mariadb::connection::create(node_accounts(_nodes, _user_name, _password, _schema, _tls));
    prepare_store_sessions(*m_connection, m_logger);
    m_reader = std::make_unique<window_reader_impl>(*m_connection, m_logger);
    const std::string writer_id = load_or_create_writer_id(_persistent_data_dir);
    m_lease = std::make_unique<writer_lease>(*m_connection, writer_id, writer_lease::describe(writer_id),
                                             _lease_duration);

    m_ledger = std::make_unique<read_ledger>(*m_connection);

    retry_until_signalled(m_logger, _signals, CORE_SOURCE_LOCATION, [&] {
        m_connection->set_charset(store_charset);
        m_lease->create_table_if_missing();
        m_ledger->create_tables_if_missing();
    });
}

database_impl::~database_impl()
{
    if (m_lease_held) m_lease->release();
}

void database_impl::take_writer_lease(bool _wait)
{
    bool reported = false;
    for (;;) {
        // A failure of the database is the caller's, as for every other
        // statement: the run ends and the next one tries again.
        const auto other =
            with_located_errors(CORE_SOURCE_LOCATION, [&] { return m_lease->take_or_renew(); });
        if (!other) {
            if (!m_lease_held) m_logger.info("Holding the writer lease as %1%") % m_lease->description();
            m_lease_held = true;
            m_lease_renew_due = std::chrono::steady_clock::now() + m_lease_duration / 3;
            return;
        }
        m_lease_held = false;
        if (!_wait)
            throw libs::core::exception("Another daemon holds the writer lease: " + *other,
                                        CORE_SOURCE_LOCATION);
        // Once per wait: a standby daemon waits for hours without filling the
        // log.
        if (!reported)
            m_logger.info("Another daemon holds the writer lease: %1%; waiting until it stops") % *other;
        reported = true;
        if (m_signals.signal_is_received()) throw libs::core::exception("Interrupted", CORE_SOURCE_LOCATION);
        wait_unless_signalled(m_signals, lease_retry_interval);
    }
}

boost::optional<database_impl::timestamp> database_impl::query_single_timestamp(const std::string& _sql) const
{
    auto rows = m_connection->query(_sql);
    if (!rows->next() || rows->get_is_null("ts") || rows->get_is_null("microseconds")) return boost::none;
    return to_timestamp(rows->get_date_time("ts"), rows->get_signed32("microseconds"));
}

boost::optional<database_impl::timestamp> database_impl::get_last_position_timestamp() const
{
    auto guard = m_logger.enter_function(CORE_SOURCE_LOCATION);
    return with_located_errors(CORE_SOURCE_LOCATION, [&] {
        return query_single_timestamp(R"(
                SELECT
                    max( ts ) as ts
                  , microsecond( max( ts ) ) AS microseconds
                FROM positions
                ;
)");
    });
}

boost::optional<database_impl::timestamp> database_impl::get_first_raw_position_timestamp() const
{
    auto guard = m_logger.enter_function(CORE_SOURCE_LOCATION);
    return with_located_errors(CORE_SOURCE_LOCATION, [&] {
        return query_single_timestamp(R"(
                SELECT
                    min( ts ) as ts
                  , microsecond( min( ts ) ) AS microseconds
                FROM positions_raw
                WHERE ts >= '1970-01-01'
                ;
            )");
    });
}

boost::optional<database_impl::timestamp> database_impl::get_next_raw_position_timestamp(
    timestamp _timestamp) const
{
    auto guard = m_logger.enter_function(CORE_SOURCE_LOCATION);
    return with_located_errors(CORE_SOURCE_LOCATION, [&] {
        return query_single_timestamp((boost::format(R"(
                        SELECT
                            min( ts ) as ts
                          , microsecond( min( ts ) ) AS microseconds
                        FROM positions_raw
                        WHERE
                            ts >= '%1%' and type != 'HB'
                        ;
                    )") % (_timestamp + one_millisecond).to_iso_8601_string(true))
                                          .str());
    });
}

positions_vector database_impl::get_raw_positions(timestamp _from, std::chrono::seconds _duration) const
{
    return m_reader->get_raw_positions(_from, _duration);
}

positions_vector database_impl::get_raw_range(timestamp _after, timestamp _until) const
{
    return m_reader->get_raw_range(_after, _until);
}

std::vector<ledger_range> database_impl::get_ledger_ranges(timestamp _after, timestamp _until,
                                                           bool _late_only) const
{
    return with_located_errors(CORE_SOURCE_LOCATION,
                               [&] { return m_ledger->ranges_within(_after, _until, _late_only); });
}

database_impl::timestamp database_impl::get_server_time() const
{
    return with_located_errors(CORE_SOURCE_LOCATION, [&] {
        auto now = query_single_timestamp(
            "SELECT UTC_TIMESTAMP(3) AS ts, microsecond( UTC_TIMESTAMP(3) ) AS microseconds");
        if (!now) throw std::runtime_error("the server did not tell its time");
        return *now;
    });
}

database::raw_outliers database_impl::find_raw_outliers(timestamp _future_after) const
{
    return with_located_errors(CORE_SOURCE_LOCATION, [&] {
        // One statement: every run asks, so that new outliers are reported
        // at once. Both ends of the ts index, normally empty ranges.
        const std::string after = (_future_after + one_millisecond).to_iso_8601_string(true);
        const std::string future = "FROM positions_raw WHERE ts >= '" + after + "' and type != 'HB'";
        auto rows = m_connection->query("SELECT CAST((SELECT count(*) " + future +
                                        ") AS CHAR) AS future_rows, (SELECT max( ts ) " + future +
                                        ") AS ts, microsecond( (SELECT max( ts ) " + future +
                                        ") ) AS microseconds, CAST((SELECT count(*) FROM positions_raw WHERE "
                                        "ts < '1970-01-01') AS CHAR) AS "
                                        "invalid_rows");
        raw_outliers outliers;
        if (!rows->next()) return outliers;
        outliers.future_rows = std::stoll(rows->get_string("future_rows"));
        if (!rows->get_is_null("ts"))
            outliers.newest_future =
                to_timestamp(rows->get_date_time("ts"), rows->get_signed32("microseconds"));
        outliers.invalid_time_rows = std::stoll(rows->get_string("invalid_rows"));
        return outliers;
    });
}

}  // namespace zav
