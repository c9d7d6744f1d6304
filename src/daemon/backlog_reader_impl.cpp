#include "daemon/backlog_reader_impl.hpp"

#include <chrono>
#include <string>
#include <utility>

#include "store/row_time.hpp"

namespace zav {

backlog_reader_impl::backlog_reader_impl(std::vector<mariadb::account_ref> _accounts)
    : m_accounts(std::move(_accounts))
{
}

boost::optional<backlog> backlog_reader_impl::backlog_after(libs::core::timestamp _newest_written) noexcept
{
    try {
        if (!m_connection) m_connection = mariadb::connection::create(m_accounts);
        // The stored times have microseconds and the written ones are
        // truncated to milliseconds: "later" starts one millisecond on.
        const auto from = (_newest_written + std::chrono::milliseconds(1)).to_iso_8601_string(true);
        // Counting walks the time index, which costs about 0.4 s per million
        // rows: the count stops at the limit, and beyond it the rows are
        // extrapolated from the time the counted ones span.
        auto rows = m_connection->query(
            "SELECT behind.n_rows, behind.last_ts, MICROSECOND(behind.last_ts) AS last_microseconds, "
            "newest.ts, MICROSECOND(newest.ts) AS microseconds FROM "
            "(SELECT CAST(COUNT(*) AS CHAR) AS n_rows, MAX(ts) AS last_ts FROM (SELECT ts FROM positions_raw "
            "WHERE ts >= "
            "'" +
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
        m_connection.reset();
        return boost::none;
    }
}

}  // namespace zav
