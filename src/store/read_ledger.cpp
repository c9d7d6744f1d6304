#include "store/read_ledger.hpp"

#include "mariadb++/exceptions.hpp"
#include "mariadb++/result_set.hpp"

#include <mysqld_error.h>

#include <boost/format.hpp>

#include <algorithm>
#include <chrono>
#include <set>
#include <string_view>

namespace zav {

namespace {

// The row of trackmend_late_check.
constexpr int check_row = 1;
// Ledger ranges recounted by one statement.
constexpr std::size_t ranges_per_recount = 500;

std::string sql_time(const libs::core::timestamp& _ts) { return "'" + _ts.to_iso_8601_string(true) + "'"; }

// Raw times may carry microseconds and the ledger's are whole milliseconds:
// a raw row lies in (after, until] when after + 1 ms <= ts < until + 1 ms.
std::string raw_rows_between(std::string_view _after, std::string_view _until)
{
    return "(SELECT COUNT(*) FROM positions_raw r WHERE r.ts >= " + std::string(_after) +
           " + INTERVAL 1000 MICROSECOND AND r.ts < " + std::string(_until) +
           " + INTERVAL 1000 MICROSECOND AND r.type != 'HB')";
}

long long number(const mariadb::result_set& _rows, const char* _column)
{
    return _rows.get_is_null(_column) ? 0 : std::stoll(_rows.get_string(_column));
}

constexpr const char* ms_since_epoch = "TIMESTAMPDIFF(MICROSECOND, '1970-01-01', %1%) DIV 1000";

}  // namespace

read_ledger::read_ledger(mariadb::connection& _connection) : m_connection(_connection) {}

void read_ledger::create_tables_if_missing()
{
    // Looked for first: CREATE TABLE IF NOT EXISTS needs the CREATE
    // privilege even when the table exists, and sites grant it only once.
    // The same definitions as in sql/schema.sql.
    const auto missing = [this](const char* _table) {
        try {
            m_connection.query(std::string("SELECT 1 FROM ") + _table + " LIMIT 0");
            return false;
        } catch (const mariadb::exception::base& e) {
            if (e.error_id() != ER_NO_SUCH_TABLE) throw;
            return true;
        }
    };
    if (missing("trackmend_read_ledger"))
        m_connection.execute(R"(CREATE TABLE IF NOT EXISTS trackmend_read_ledger (
    until_ts  DATETIME(3)     NOT NULL,
    after_ts  DATETIME(3)     NOT NULL,
    raw_rows  BIGINT UNSIGNED NOT NULL,
    late_rows BIGINT UNSIGNED NOT NULL DEFAULT 0,
    PRIMARY KEY (until_ts),
    KEY trackmend_read_ledger_after (after_ts)
) ENGINE = InnoDB DEFAULT CHARSET = utf8mb4 COLLATE = utf8mb4_bin)");
    if (missing("trackmend_late_check"))
        m_connection.execute(R"(CREATE TABLE IF NOT EXISTS trackmend_late_check (
    id             TINYINT UNSIGNED NOT NULL,
    checked_raw_id BIGINT           NOT NULL,
    PRIMARY KEY (id)
) ENGINE = InnoDB DEFAULT CHARSET = utf8mb4 COLLATE = utf8mb4_bin)");
}

std::string read_ledger::record_statements(const read_range& _range) const
{
    const std::string after = sql_time(_range.after);
    // A range cut back keeps as read what is there now of its shorter span,
    // at most what it had read and reported: rows that arrived late in it
    // meanwhile go unreported, the price of a write that never completed.
    return "DELETE FROM trackmend_read_ledger WHERE after_ts >= " + after +
           ";UPDATE trackmend_read_ledger SET raw_rows = LEAST(raw_rows + late_rows, " +
           raw_rows_between("trackmend_read_ledger.after_ts", after) +
           "), late_rows = 0, until_ts = " + after + " WHERE until_ts > " + after + " AND after_ts < " +
           after +
           (_range.read_before_from
                ? ";INSERT INTO trackmend_read_ledger (until_ts, after_ts, raw_rows) VALUES (" + after +
                      ", " + sql_time(*_range.read_before_from) +
                      ", 0) ON DUPLICATE KEY UPDATE until_ts = until_ts"
                : std::string()) +
           ";INSERT INTO trackmend_read_ledger (until_ts, after_ts, raw_rows) VALUES (" +
           sql_time(_range.until) + ", " + after + ", " + std::to_string(_range.rows) + ")";
}

read_ledger::look read_ledger::look_for_late_rows(libs::core::timestamp _newest_written,
                                                  libs::core::timestamp _horizon_start)
{
    look result;
    const std::string newest = sql_time(_newest_written);
    const std::string horizon = sql_time(_horizon_start);
    auto marks = m_connection.query(
        (boost::format(
             "SELECT CAST((SELECT checked_raw_id FROM trackmend_late_check WHERE id = %1%) AS CHAR) "
             "AS checked, CAST((SELECT MAX(id) FROM positions_raw) AS CHAR) AS top, "
             "CAST((SELECT MIN(until_ts) < %2% FROM trackmend_read_ledger) AS CHAR) AS expired") %
         check_row % horizon)
            .str());
    marks->next();
    // The mark in the table moves on lazily (see below); this daemon's own
    // is ahead of it, another daemon's may be too.
    const bool first_look = marks->get_is_null("checked") && !m_checked;
    const long long saved = number(*marks, "checked");
    long long checked = std::max(saved, m_checked.value_or(0));
    const long long top = number(*marks, "top");
    // Ids that went back: positions_raw was emptied or recreated since, and
    // every row it holds now is new to the look.
    if (top < checked) checked = 0;
    const bool expired = number(*marks, "expired") != 0;

    std::set<std::string> untils;
    if (!first_look && top > checked) {
        // The raw rows inserted since the last look whose time was written
        // already point at the ledger ranges to recount: normally none, as
        // rows arrive before their time is written.
        auto rows = m_connection.query(
            (boost::format(
                 "SELECT DISTINCT CAST((SELECT MIN(l.until_ts) FROM trackmend_read_ledger l WHERE l.until_ts "
                 "> "
                 "r.ts - INTERVAL 1000 MICROSECOND) AS CHAR) AS until_ts FROM positions_raw r WHERE r.id > "
                 "%1% "
                 "AND r.id <= %2% AND r.ts < %3% + INTERVAL 1000 MICROSECOND AND r.ts >= %4% + INTERVAL 1000 "
                 "MICROSECOND AND r.type != 'HB'") %
             checked % top % newest % horizon)
                .str());
        while (rows->next())
            if (!rows->get_is_null("until_ts")) untils.insert(rows->get_string("until_ts"));
    }
    const auto swept = next_sweep(_newest_written, _horizon_start);
    untils.insert(swept.begin(), swept.end());

    for (const auto& range : recount({untils.begin(), untils.end()})) {
        const long long late = std::max(0LL, range.now_rows - range.raw_rows);
        if (late <= range.late_rows) continue;
        result.found.rows += late - range.late_rows;
        const libs::core::timestamp after{std::chrono::milliseconds(range.after_ms)};
        const libs::core::timestamp until{std::chrono::milliseconds(range.until_ms)};
        if (!result.found.after || after < *result.found.after) result.found.after = after;
        if (!result.found.until || *result.found.until < until) result.found.until = until;
        // Conditional, so that a look repeated after a failed commit counts
        // nothing twice.
        result.statements +=
            (boost::format("UPDATE trackmend_read_ledger SET late_rows = %1% WHERE until_ts = "
                           "'%2%' AND late_rows = %3%;") %
             late % range.until % range.late_rows)
                .str();
    }
    // The mark is saved when late rows were found with it, and otherwise
    // once per interval: a daemon that starts from an older mark looks at
    // more rows once, and counts nothing twice, as the ledger knows what was
    // reported.
    const auto now = std::chrono::steady_clock::now();
    m_pending_checked = top;
    m_pending_mark_saved = false;
    if (top != saved && (result.found.rows > 0 || now >= m_next_mark_save || marks->get_is_null("checked"))) {
        result.statements +=
            (boost::format("INSERT INTO trackmend_late_check (id, checked_raw_id) VALUES (%1%, "
                           "%2%) ON DUPLICATE KEY UPDATE checked_raw_id = %2%;") %
             check_row % top)
                .str();
        m_pending_mark_saved = true;
    }
    if (expired) result.statements += "DELETE FROM trackmend_read_ledger WHERE until_ts < " + horizon + ";";
    if (!result.statements.empty()) result.statements.pop_back();
    return result;
}

std::vector<ledger_range> read_ledger::ranges_within(libs::core::timestamp _after,
                                                     libs::core::timestamp _until, bool _late_only) const
{
    auto rows = m_connection.query(
        "SELECT CAST(" + (boost::format(ms_since_epoch) % "after_ts").str() + " AS CHAR) AS after_ms, CAST(" +
        (boost::format(ms_since_epoch) % "until_ts").str() +
        " AS CHAR) AS until_ms, CAST(raw_rows AS CHAR) AS raw_rows, CAST(late_rows AS CHAR) AS late_rows "
        "FROM "
        "trackmend_read_ledger WHERE until_ts <= " +
        sql_time(_until) + " AND until_ts > " + sql_time(_after) +
        (_late_only ? " AND late_rows > 0" : " AND after_ts >= " + sql_time(_after)) + " ORDER BY until_ts");
    std::vector<ledger_range> ranges;
    while (rows->next())
        ranges.push_back({libs::core::timestamp(std::chrono::milliseconds(number(*rows, "after_ms"))),
                          libs::core::timestamp(std::chrono::milliseconds(number(*rows, "until_ms"))),
                          number(*rows, "raw_rows"), number(*rows, "late_rows")});
    return ranges;
}

std::string read_ledger::processed_statements(const ledger_range& _range) const
{
    // late_rows first: MariaDB assigns from left to right, each assignment
    // seeing the ones before it.
    return (boost::format(
                "UPDATE trackmend_read_ledger SET late_rows = GREATEST(0, CAST(raw_rows + late_rows AS "
                "SIGNED) - %1%), raw_rows = %1% WHERE until_ts = %2%") %
            _range.read_rows % sql_time(_range.until))
        .str();
}

void read_ledger::looked()
{
    m_sweep_before = m_pending_sweep_before;
    m_checked = m_pending_checked;
    if (m_pending_mark_saved) m_next_mark_save = std::chrono::steady_clock::now() + mark_save_interval;
}

std::vector<read_ledger::range_count> read_ledger::recount(const std::vector<std::string>& _untils) const
{
    std::vector<range_count> counts;
    for (std::size_t begin = 0; begin < _untils.size(); begin += ranges_per_recount) {
        std::string keys;
        for (std::size_t i = begin; i < std::min(_untils.size(), begin + ranges_per_recount); ++i)
            keys += (keys.empty() ? "'" : ",'") + m_connection.escape(_untils[i]) + "'";
        auto rows = m_connection.query(
            "SELECT CAST(l.until_ts AS CHAR) AS until_ts, CAST(l.raw_rows AS CHAR) AS raw_rows, "
            "CAST(l.late_rows "
            "AS CHAR) AS late_rows, CAST(" +
            raw_rows_between("l.after_ts", "l.until_ts") + " AS CHAR) AS now_rows, CAST(" +
            (boost::format(ms_since_epoch) % "l.after_ts").str() + " AS CHAR) AS after_ms, CAST(" +
            (boost::format(ms_since_epoch) % "l.until_ts").str() +
            " AS CHAR) AS until_ms FROM trackmend_read_ledger l WHERE l.until_ts IN (" + keys + ")");
        while (rows->next())
            counts.push_back({rows->get_string("until_ts"), number(*rows, "raw_rows"),
                              number(*rows, "late_rows"), number(*rows, "now_rows"),
                              number(*rows, "after_ms"), number(*rows, "until_ms")});
    }
    return counts;
}

std::vector<std::string> read_ledger::next_sweep(libs::core::timestamp _newest_written,
                                                 libs::core::timestamp _horizon_start)
{
    m_pending_sweep_before = m_sweep_before;
    const auto now = std::chrono::steady_clock::now();
    if (now < m_next_sweep) return {};
    m_next_sweep = now + sweep_interval;
    const auto before = m_sweep_before.value_or(_newest_written + std::chrono::milliseconds(1));
    auto rows = m_connection.query(
        (boost::format(
             "SELECT CAST(until_ts AS CHAR) AS until_ts, CAST(raw_rows + late_rows AS CHAR) AS n, CAST(" +
             std::string(ms_since_epoch) +
             " AS CHAR) AS until_ms FROM trackmend_read_ledger WHERE until_ts < %2% AND until_ts > %3% "
             "ORDER BY until_ts DESC LIMIT 1000") %
         "until_ts" % sql_time(before) % sql_time(_horizon_start))
            .str());
    std::vector<std::string> untils;
    long long budget = sweep_rows_per_look;
    m_pending_sweep_before = boost::none;
    while (budget > 0 && rows->next()) {
        untils.push_back(rows->get_string("until_ts"));
        budget -= number(*rows, "n");
        m_pending_sweep_before = libs::core::timestamp(std::chrono::milliseconds(number(*rows, "until_ms")));
    }
    return untils;
}

}  // namespace zav
