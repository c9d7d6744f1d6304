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

// utf8mb4 rather than the 3-byte utf8: uids and areas may hold any Unicode
// character, and a 4-byte one sent over a utf8 session is rejected by the
// server, which would fail the write of its batch on every retry.
constexpr const char* connection_charset = "utf8mb4";
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
      m_persistent_data_file(_persistent_data_dir + "/database.bin"),
      m_bulk_rows(bulk_insert::make_rows())
{
    if (m_insert_piece_size < 1)
        throw libs::core::exception(
            (boost::format("insert_piece_size must be at least 1, not %1%") % m_insert_piece_size).str(),
            CORE_SOURCE_LOCATION);
    if (_nodes.empty()) throw libs::core::exception("No database node to connect to", CORE_SOURCE_LOCATION);

    // The logger outlives the store and with it the connection.
    m_connection = mariadb::connection::create(node_accounts(_nodes, _user_name, _password, _schema, _tls));
    m_connection->set_session_setup([&logger = m_logger](mariadb::connection& _connection) {
        const bool galera = prepare_session(_connection);
        const auto& account = *_connection.account();
        logger.info("Connected to database node %1%%2%") %
            node_address{account.host_name(), account.port()}.to_string() %
            (galera ? " (Galera cluster node)" : "");
    });
    const std::string writer_id = load_or_create_writer_id(_persistent_data_dir);
    m_lease = std::make_unique<writer_lease>(*m_connection, writer_id, writer_lease::describe(writer_id),
                                             _lease_duration);

    m_ledger = std::make_unique<read_ledger>(*m_connection);

    retry_until_signalled(m_logger, _signals, CORE_SOURCE_LOCATION, [&] {
        m_connection->set_charset(connection_charset);
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

std::string database_impl::raw_window_statement(bool _index_hint)
{
    // Past a window of a few minutes the planner estimates the ts range as
    // too large and scans the whole table, although the window is a small
    // slice of a table that only grows: the index is forced. Only the
    // columns of a position travel: the row id and the type are of no use
    // to the daemon, and every byte is converted twice on a busy server and
    // once more here.
    return std::string(R"(
                SELECT
                    trackable_id, trackable_uid, mac_address, ts, x, y, z, area_uid, project_uid, inactive
                FROM
                    positions_raw )") +
           (_index_hint ? "FORCE INDEX (positions_raw_ts)" : "") + R"(
                WHERE
                        ts >= ? and ts < ?
                    and type != 'HB'
            )";
}

std::string database_impl::raw_window_query(timestamp _after, timestamp _until, bool _index_hint)
{
    std::string text = raw_window_statement(_index_hint);
    for (const timestamp bound : {_after + one_millisecond, _until + one_millisecond})
        text.replace(text.find('?'), 1, "'" + bound.to_iso_8601_string(true) + "'");
    return text;
}

namespace {

mariadb::date_time_fields date_time_fields(const database_impl::timestamp& _ts)
{
    const utc_fields f = to_utc_fields(_ts);
    return {static_cast<unsigned>(f.year), f.month, f.day, f.hour, f.minute, f.second,
            f.millisecond * 1000UL};
}

}  // namespace

void database_impl::read_raw_window(timestamp _after, timestamp _until, positions_vector& _into) const
{
    m_window_bounds.clear();
    m_window_bounds.add_date_time(date_time_fields(_after + one_millisecond));
    m_window_bounds.add_date_time(date_time_fields(_until + one_millisecond));
    // The rows are streamed, so their number is known only at the end;
    // windows of a catch-up are alike, so the last one's is the guess.
    _into.reserve(_into.size() + m_last_window_rows + m_last_window_rows / 8);
    const std::size_t before = _into.size();
    const auto read = [&] {
        raw_position_reader reader(m_logger, _into);
        m_last_window_rows =
            m_connection->query_prepared(raw_window_statement(m_ts_index_hint), m_window_bounds,
                                         [&reader](const mariadb::binary_row& _row) { reader.add(_row); });
    };
    try {
        read();
        return;
    } catch (const mariadb::exception::base& e) {
        // A table created without the project's index name: read on
        // without the hint rather than fail every window.
        if (!m_ts_index_hint || e.error_id() != ER_KEY_DOES_NOT_EXISTS) throw;
        m_logger.warning(
            "positions_raw has no index positions_raw_ts on ts: %1%; long windows may scan the "
            "whole table") %
            e.what();
        m_ts_index_hint = false;
    }
    _into.resize(before);
    read();
}

positions_vector database_impl::get_raw_positions(timestamp _from, std::chrono::seconds _duration) const
{
    return with_located_errors(CORE_SOURCE_LOCATION, [&] {
        const timestamp until = _from + std::chrono::milliseconds(_duration);
        auto reused = m_raw_tail.take(_from, until);
        // The rows read are appended to the reused ones, which all lie
        // before them.
        auto positions = std::move(reused.rows);
        const auto reused_rows = static_cast<std::ptrdiff_t>(positions.size());
        read_raw_window(reused.read_after, until, positions);
        // The trim and the pipeline need time order, which the server gives
        // only by chance (insertion order on a full scan). Rows mostly come
        // in order, so the test alone is the usual cost.
        const auto by_time = [](const position& _a, const position& _b) { return _a.ts < _b.ts; };
        const auto read = positions.begin() + reused_rows;
        if (!std::is_sorted(read, positions.end(), by_time)) std::stable_sort(read, positions.end(), by_time);
        // The next window starts at the newest position written from this
        // one, which lies before the held-back span and the trimmed second.
        m_raw_tail.keep(_from, until, positions, pipeline::hold_back_span + std::chrono::seconds(2));
        return trim_trailing_second(std::move(positions));
    });
}

positions_vector database_impl::get_raw_range(timestamp _after, timestamp _until) const
{
    return with_located_errors(CORE_SOURCE_LOCATION, [&] {
        positions_vector positions;
        read_raw_window(_after, _until, positions);
        const auto by_time = [](const position& _a, const position& _b) { return _a.ts < _b.ts; };
        if (!std::is_sorted(positions.begin(), positions.end(), by_time))
            std::stable_sort(positions.begin(), positions.end(), by_time);
        return positions;
    });
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
