#include "store/writer_lease.hpp"

#include "core/exception.hpp"

#include "mariadb++/exceptions.hpp"

#include <mysqld_error.h>

#include <boost/format.hpp>

#include <unistd.h>

#include <climits>

namespace zav {

namespace {

// The table holds at most this one row: one writer per database.
constexpr int lease_row = 1;

}  // namespace

writer_lease::writer_lease(mariadb::connection& _connection, std::string _writer_id, std::string _description,
                           std::chrono::seconds _duration)
    : m_connection(_connection),
      m_writer_id(std::move(_writer_id)),
      m_description(std::move(_description)),
      m_duration(_duration)
{
}

void writer_lease::create_table_if_missing()
{
    // Looked for first: CREATE TABLE IF NOT EXISTS needs the CREATE
    // privilege even when the table exists, and an account with only the
    // rights the daemon uses has none. Sites that set up their schema before
    // the lease existed get it on the first start, when their account may
    // create it. The same definition as in sql/schema.sql.
    try {
        m_connection.query("SELECT 1 FROM trackmend_writer_lease LIMIT 0");
        return;
    } catch (const mariadb::exception::base& e) {
        if (e.error_id() != ER_NO_SUCH_TABLE) throw;
    }
    m_connection.execute(R"(CREATE TABLE IF NOT EXISTS trackmend_writer_lease (
    id            TINYINT UNSIGNED NOT NULL,
    holder_id     VARCHAR(64)      NOT NULL,
    holder        VARCHAR(255)     NOT NULL,
    expires_at    DATETIME(6)      NOT NULL,
    fenced_writes BIGINT UNSIGNED  NOT NULL DEFAULT 0,
    PRIMARY KEY (id)
) ENGINE = InnoDB DEFAULT CHARSET = utf8mb4 COLLATE = utf8mb4_bin)");
}

std::optional<std::string> writer_lease::take_or_renew()
{
    const std::string me = m_connection.escape(m_writer_id);
    const std::string description = m_connection.escape(m_description);
    const auto expiry = (boost::format("UTC_TIMESTAMP(6) + INTERVAL %1% SECOND") % m_duration.count()).str();
    bool from_another = false;
    m_connection.begin();
    try {
        auto row = m_connection.query(
            (boost::format(
                 "SELECT holder_id, holder, IF(expires_at > UTC_TIMESTAMP(6), 'live', 'expired') AS state "
                 "FROM trackmend_writer_lease WHERE id = %1% FOR UPDATE") %
             lease_row)
                .str());
        if (!row->next()) {
            // Two daemons inserting at once: the second fails on the key.
            m_connection.execute((boost::format("INSERT INTO trackmend_writer_lease (id, holder_id, holder, "
                                                "expires_at) VALUES (%1%, '%2%', '%3%', %4%)") %
                                  lease_row % me % description % expiry)
                                     .str());
        } else {
            if (row->get_string("holder_id") != m_writer_id && row->get_string("state") == "live") {
                const std::string holder = row->get_string("holder");
                m_connection.rollback();
                return holder;
            }
            from_another = row->get_string("holder_id") != m_writer_id;
            m_connection.execute(
                (boost::format("UPDATE trackmend_writer_lease SET holder_id = '%1%', holder = "
                               "'%2%', expires_at = %3% WHERE id = %4%") %
                 me % description % expiry % lease_row)
                    .str());
        }
        m_connection.commit();
    } catch (...) {
        m_connection.rollback();
        throw;
    }
    m_taken_from_another = from_another;
    return std::nullopt;
}

void writer_lease::fence_in_transaction() { check_fence(m_connection.execute(fence_statement())); }

const std::string& writer_lease::fence_statement()
{
    // A write of the row, not a read: Galera certifies write sets only, and
    // a row lock taken by a read is local to one node. Comparing the holder
    // alone, not the expiry, is what makes this clock-free: a holder whose
    // lease ran out may still write as long as nobody has taken it over, and
    // once somebody has, nothing it does can pass.
    if (m_fence_statement.empty())
        m_fence_statement =
            (boost::format(
                 "UPDATE trackmend_writer_lease SET fenced_writes = fenced_writes + 1, "
                 "expires_at = UTC_TIMESTAMP(6) + INTERVAL %1% SECOND WHERE id = %2% AND holder_id = '%3%'") %
             m_duration.count() % lease_row % m_connection.escape(m_writer_id))
                .str();
    return m_fence_statement;
}

void writer_lease::check_fence(mariadb::u64 _renewed) const
{
    if (_renewed != 1)
        throw libs::core::exception(
            "The writer lease is held by another daemon: nothing of this write is committed",
            CORE_SOURCE_LOCATION);
}

void writer_lease::release() noexcept
{
    try {
        m_connection.execute((boost::format("UPDATE trackmend_writer_lease SET expires_at = UTC_TIMESTAMP(6) "
                                            "WHERE id = %1% AND holder_id = '%2%'") %
                              lease_row % m_connection.escape(m_writer_id))
                                 .str());
    } catch (...) {
    }
}

std::string writer_lease::lock_statement()
{
    return "UPDATE trackmend_writer_lease SET fenced_writes = fenced_writes + 1 WHERE id = " +
           std::to_string(lease_row);
}

std::string writer_lease::describe(const std::string& _writer_id)
{
    char host[HOST_NAME_MAX + 1] = {};
    if (::gethostname(host, sizeof host) != 0) host[0] = '\0';
    return (boost::format("%1% on %2%, pid %3%") % _writer_id % host % ::getpid()).str();
}

}  // namespace zav
