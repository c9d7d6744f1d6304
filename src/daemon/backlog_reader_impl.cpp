#include "daemon/backlog_reader_impl.hpp"

#include <chrono>
#include <string>

#include "store/row_time.hpp"

namespace zav {

backlog_reader_impl::backlog_reader_impl(const std::string& _host_name, const std::string& _user_name,
                                         const std::string& _password, const std::string& _schema,
                                         unsigned int _port)
    : m_account(mariadb::account::create(_host_name, _user_name, _password, _schema, _port, ""))
{
}

boost::optional<backlog> backlog_reader_impl::backlog_after(libs::core::timestamp _newest_written) noexcept
{
    try {
        if (!m_connection) m_connection = mariadb::connection::create(m_account);
        // The stored times have microseconds and the written ones are
        // truncated to milliseconds: "later" starts one millisecond on.
        const auto from = (_newest_written + std::chrono::milliseconds(1)).to_iso_8601_string(true);
        // Counting walks the time index; the cap bounds what one report may
        // cost the catch-up it describes.
        auto rows = m_connection->query(
            "SELECT (SELECT COUNT(*) FROM (SELECT 1 FROM positions_raw WHERE ts >= '" + from + "' LIMIT " +
            std::to_string(backlog::count_limit) +
            ") AS behind) AS n_rows, MAX(ts) AS ts, MICROSECOND(MAX(ts)) AS microseconds FROM positions_raw");
        if (!rows->next()) return boost::none;
        backlog result;
        result.rows = std::stoull(rows->get_string("n_rows"));
        if (!rows->get_is_null("ts"))
            result.newest_raw = to_timestamp(rows->get_date_time("ts"), rows->get_signed32("microseconds"));
        return result;
    } catch (...) {
        m_connection.reset();
        return boost::none;
    }
}

}  // namespace zav
