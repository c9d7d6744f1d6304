#include "store/window_reader_impl.hpp"

#include "pipeline/constants.hpp"
#include "store/galera_session.hpp"
#include "store/located_errors.hpp"
#include "store/raw_position_reader.hpp"
#include "store/row_time.hpp"
#include "store/trailing_second_trim.hpp"

#include "mariadb++/binary_row.hpp"
#include "mariadb++/exceptions.hpp"
#include "mariadb++/result_set.hpp"

#include <mysqld_error.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <utility>

namespace zav {

namespace {

constexpr std::chrono::milliseconds one_millisecond(1);

}  // namespace

window_reader_impl::window_reader_impl(mariadb::connection& _connection, const libs::core::logger& _logger)
    : m_connection(_connection), m_logger(_logger)
{
}

std::unique_ptr<window_reader_impl> window_reader_impl::connect(std::vector<mariadb::account_ref> _accounts,
                                                                const libs::core::logger& _logger,
                                                                bool _store_sessions)
{
    auto connection = mariadb::connection::create(std::move(_accounts));
    if (_store_sessions) prepare_store_sessions(*connection, _logger);
    auto reader = std::make_unique<window_reader_impl>(*connection, _logger);
    reader->m_own_connection = std::move(connection);
    reader->m_charset_pending = true;
    return reader;
}

std::string window_reader_impl::raw_window_statement(bool _index_hint)
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

std::string window_reader_impl::raw_window_query(timestamp _after, timestamp _until, bool _index_hint)
{
    std::string text = raw_window_statement(_index_hint);
    for (const timestamp bound : {_after + one_millisecond, _until + one_millisecond})
        text.replace(text.find('?'), 1, "'" + bound.to_iso_8601_string(true) + "'");
    return text;
}

namespace {

mariadb::date_time_fields date_time_fields(const window_reader_impl::timestamp& _ts)
{
    const utc_fields f = to_utc_fields(_ts);
    return {static_cast<unsigned>(f.year), f.month, f.day, f.hour, f.minute, f.second,
            f.millisecond * 1000UL};
}

}  // namespace

void window_reader_impl::set_charset_once()
{
    // Kept by the connection for its later sessions too.
    if (m_charset_pending) m_connection.set_charset(store_charset);
    m_charset_pending = false;
}

void window_reader_impl::read_raw_window(timestamp _after, timestamp _until, positions_vector& _into)
{
    set_charset_once();
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
            m_connection.query_prepared(raw_window_statement(m_ts_index_hint), m_window_bounds,
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

positions_vector window_reader_impl::get_raw_positions(timestamp _from, std::chrono::seconds _duration)
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

positions_vector window_reader_impl::get_raw_range(timestamp _after, timestamp _until)
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

boost::optional<backlog> window_reader_impl::backlog_after(timestamp _newest_written) noexcept
{
    try {
        set_charset_once();
        const auto from = (_newest_written + one_millisecond).to_iso_8601_string(true);
        // Counting walks the time index, which costs about 0.4 s per million
        // rows: the count stops at the limit, and beyond it the rows are
        // extrapolated from the time the counted ones span.
        auto rows = m_connection.query(
            "SELECT behind.n_rows, behind.last_ts, MICROSECOND(behind.last_ts) AS last_microseconds, "
            "newest.ts, MICROSECOND(newest.ts) AS microseconds FROM "
            "(SELECT CAST(COUNT(*) AS CHAR) AS n_rows, MAX(ts) AS last_ts FROM (SELECT ts FROM positions_raw "
            "WHERE ts >= '" +
            from + "' ORDER BY ts LIMIT " + std::to_string(backlog::count_limit) +
            ") AS counted) AS behind, (SELECT MAX(ts) AS ts FROM positions_raw) AS newest");
        if (!rows->next()) return boost::none;
        backlog result;
        result.rows = std::stoull(rows->get_string("n_rows"));
        if (!rows->get_is_null("ts"))
            result.newest_raw = to_timestamp(rows->get_date_time("ts"), rows->get_signed32("microseconds"));
        if (result.rows >= backlog::count_limit && result.newest_raw) {
            const auto last_counted =
                to_timestamp(rows->get_date_time("last_ts"), rows->get_signed32("last_microseconds"));
            const auto counted_span = (last_counted - _newest_written).count();
            const auto whole_span = (*result.newest_raw - _newest_written).count();
            if (counted_span > 0 && whole_span > counted_span) {
                result.rows = static_cast<std::uint64_t>(static_cast<double>(result.rows) *
                                                         static_cast<double>(whole_span) /
                                                         static_cast<double>(counted_span));
                result.estimated = true;
            }
        }
        return result;
    } catch (...) {
        // The session reconnects at the next call; progress reports go on
        // without the figure meanwhile.
        return boost::none;
    }
}

}  // namespace zav
