#include "database_impl.hpp"

#include "store/bulk_insert.hpp"
#include "store/inconsistent_state_error.hpp"
#include "store/insert_statement.hpp"
#include "store/located_errors.hpp"
#include "store/pending_insert_file.hpp"
#include "store/row_time.hpp"

#include "mariadb++/result_set.hpp"

#include "core/background_file_write.hpp"

#include <boost/filesystem/operations.hpp>
#include <boost/format.hpp>

#include <algorithm>
#include <map>
#include <utility>

namespace zav {

namespace {

using positions_range = boost::sub_range<const positions_vector>;

}  // namespace

void database_impl::write_positions(const positions_vector& _positions, const read_range& _read)
{
    auto guard = m_logger.enter_function(CORE_SOURCE_LOCATION);
    if (_positions.empty()) return;
    if (!m_lease_held) take_writer_lease(false);
    // Recorded before the batch, so that no written range lacks its record;
    // a record whose batch never lands is cut back by the next one.
    if (_read.after < _read.until)
        with_located_errors(CORE_SOURCE_LOCATION, [&] {
            in_fenced_transaction([&] { m_connection->execute(m_ledger->record_statements(_read)); });
        });
    const auto rows_before = count_positions_from(pending_insert_file::earliest_time(_positions));
    // The batch goes to its file while the server inserts the first piece,
    // which commits only once the file is in place: a row in positions is
    // always in the file until the whole batch is in. The writing thread
    // owns the file's content; the write is over when this function is,
    // whichever way it ends.
    libs::core::background_file_write saved(m_pending_file,
                                            pending_insert_file::encode(_positions, rows_before));
    insert_pieces(_positions, 0, &saved);
    boost::filesystem::remove(m_pending_file);
}

void database_impl::recover_if_failed()
{
    const auto pending = pending_insert_file::load(m_pending_file);
    // Every run starts here: a standby daemon waits here, and the newest
    // written time that the run reads next is that of the previous holder.
    // A holder renews only when a third of the lease has passed (the fences
    // of its writes renew it too), so that a quiet tick costs no statements
    // for it.
    if (pending || !m_lease_held || std::chrono::steady_clock::now() >= m_lease_renew_due)
        take_writer_lease(true);
    if (!pending) return;
    std::size_t present = 0;
    try {
        present = present_prefix(*pending);
    } catch (const inconsistent_state_error&) {
        if (!m_lease->taken_from_another()) throw;
        // Another daemon held the lease since this one's write was cut off
        // and went on from the rows it found in positions: the rest of the
        // batch is its to write, and the row count no longer describes the
        // table.
        m_logger.info("Dropping the interrupted write of %1% positions: another daemon has written since") %
            pending->positions.size();
        boost::filesystem::remove(m_pending_file);
        return;
    }
    m_logger.info("Completing an interrupted write: %1% of %2% positions are in positions already") %
        present % pending->positions.size();
    insert_pieces(pending->positions, present);
    boost::filesystem::remove(m_pending_file);
}

std::size_t database_impl::present_prefix(const pending_insert_file::pending_write& _write) const
{
    const auto& positions = _write.positions;
    if (positions.empty()) return 0;
    if (!_write.rows_before) return present_prefix_without_count(positions);

    const timestamp from = pending_insert_file::earliest_time(positions);
    const long long now = count_positions_from(from);
    const long long present = now - *_write.rows_before;
    const bool fits = present >= 0 && present <= static_cast<long long>(positions.size());
    // The count alone could be matched by chance by another writer's rows;
    // the last row of the prefix must also be there.
    if (!fits || (present > 0 && !has_position(positions[static_cast<std::size_t>(present) - 1])))
        throw inconsistent_state_error(
            (boost::format(
                 "The interrupted write in %1% does not fit the table positions: it holds %2% "
                 "positions from %3% on, positions held %4% rows from that time on before the write "
                 "and holds %5% now. Another writer has changed positions; the daemon stops rather "
                 "than lose or duplicate rows. Check positions, then remove %1% and start again.") %
             m_pending_file % positions.size() % from.to_iso_8601_string(true) % *_write.rows_before % now)
                .str(),
            CORE_SOURCE_LOCATION);
    return static_cast<std::size_t>(present);
}

std::size_t database_impl::present_prefix_without_count(const positions_vector& _positions) const
{
    // Rows of positions with the uid and time of a batch row, as often as
    // they occur; the batch's rows are consumed from its start until one is
    // missing.
    auto [first, last] =
        std::minmax_element(_positions.begin(), _positions.end(),
                            [](const position& _a, const position& _b) { return _a.ts < _b.ts; });
    std::map<std::pair<std::string, long long>, long long> present;
    with_located_errors(CORE_SOURCE_LOCATION, [&] {
        auto rows = m_connection->query(
            (boost::format(
                 "SELECT trackable_uid, ts, microsecond( ts ) AS microseconds FROM positions WHERE ts "
                 ">= '%1%' and ts <= '%2%'") %
             first->ts.to_iso_8601_string(true) % last->ts.to_iso_8601_string(true))
                .str());
        while (rows->next())
            ++present[{rows->get_string("trackable_uid"),
                       to_timestamp(rows->get_date_time("ts"), rows->get_signed32("microseconds"))
                           .get_time_since_epoch()
                           .count()}];
    });
    std::size_t prefix = 0;
    for (const auto& p : _positions) {
        auto found = present.find({p.trackable_uid, p.ts.get_time_since_epoch().count()});
        if (found == present.end() || found->second == 0) break;
        --found->second;
        ++prefix;
    }
    return prefix;
}

void database_impl::insert_pieces(const positions_vector& _positions, std::size_t _begin,
                                  libs::core::background_file_write* _before_first_commit)
{
    if (_begin >= _positions.size()) return;
    with_located_errors(CORE_SOURCE_LOCATION, [&] {
        find_out_bulk();
        // Each piece and the lease check commit together or not at all: a
        // daemon that lost the lease leaves no row, and a piece is never half
        // in the table, whichever node dies meanwhile. BEGIN and the fence
        // travel in one round trip, so that a piece costs three: that, its
        // INSERT and its COMMIT. The COMMIT goes alone: on a Galera node, a
        // COMMIT sent together with the next piece's BEGIN and fence lost
        // pieces that a conflicting replicated statement had aborted, without
        // an error to the client.
        const auto piece = static_cast<std::size_t>(m_insert_piece_size);
        for (std::size_t begin = _begin; begin < _positions.size();) {
            const std::size_t end = std::min(_positions.size(), begin + piece);
            in_fenced_transaction([&] {
                insert_piece(positions_range(_positions.begin() + static_cast<std::ptrdiff_t>(begin),
                                             _positions.begin() + static_cast<std::ptrdiff_t>(end)));
                if (_before_first_commit && begin == _begin) _before_first_commit->wait();
            });
            begin = end;
        }
    });
}

void database_impl::find_out_bulk()
{
    if (m_bulk) return;
    m_bulk = m_connection->supports_bulk();
    if (!*m_bulk)
        m_logger.warning(
            "The database server cannot execute bulk inserts; writing with multi-row INSERT statements");
}

replaced_positions database_impl::replace_positions(timestamp _after, timestamp _until,
                                                    const positions_vector& _positions,
                                                    const std::vector<ledger_range>& _processed,
                                                    bool _as_writer)
{
    auto guard = m_logger.enter_function(CORE_SOURCE_LOCATION);
    if (_as_writer && !m_lease_held) take_writer_lease(false);
    return with_located_errors(CORE_SOURCE_LOCATION, [&] {
        find_out_bulk();
        replaced_positions result;
        const auto replace = [&] {
            result.removed = static_cast<long long>(
                m_connection->execute("DELETE FROM positions WHERE ts > '" + _after.to_iso_8601_string(true) +
                                      "' AND ts <= '" + _until.to_iso_8601_string(true) + "'"));
            const auto piece = static_cast<std::size_t>(m_insert_piece_size);
            for (std::size_t begin = 0; begin < _positions.size(); begin += piece)
                insert_piece(positions_range(_positions.begin() + static_cast<std::ptrdiff_t>(begin),
                                             _positions.begin() + static_cast<std::ptrdiff_t>(std::min(
                                                                      _positions.size(), begin + piece))));
            for (const auto& range : _processed) m_connection->execute(m_ledger->processed_statements(range));
            result.written = static_cast<long long>(_positions.size());
        };
        if (_as_writer)
            in_fenced_transaction(replace);
        else
            in_locked_transaction(replace);
        return result;
    });
}

void database_impl::in_locked_transaction(const std::function<void()>& _f)
{
    try {
        m_connection->begin_with(writer_lease::lock_statement());
        _f();
        m_connection->commit();
    } catch (...) {
        m_connection->rollback();
        throw;
    }
}

void database_impl::in_fenced_transaction(const std::function<void()>& _f)
{
    // Until the fence passes again, the next write takes the lease first.
    m_lease_held = false;
    const std::string& fence = m_lease->fence_statement();
    try {
        m_lease->check_fence(m_connection->begin_with(fence));
        m_lease_held = true;
        m_lease_renew_due = std::chrono::steady_clock::now() + m_lease_duration / 3;
        _f();
        m_connection->commit();
    } catch (...) {
        // Nothing of the transaction may stay behind; a lost session has
        // been rolled back by the server already.
        m_connection->rollback();
        throw;
    }
}

late_rows database_impl::find_late_rows(timestamp _newest_written, timestamp _horizon_start)
{
    auto guard = m_logger.enter_function(CORE_SOURCE_LOCATION);
    return with_located_errors(CORE_SOURCE_LOCATION, [&] {
        auto look = m_ledger->look_for_late_rows(_newest_written, _horizon_start);
        if (!look.statements.empty()) in_fenced_transaction([&] { m_connection->execute(look.statements); });
        m_ledger->looked();
        return look.found;
    });
}

void database_impl::clear_positions_table()
{
    with_located_errors(CORE_SOURCE_LOCATION, [&] { m_connection->execute("TRUNCATE TABLE positions"); });
}

void database_impl::insert_piece(positions_range _range)
{
    mariadb::u64 inserted = 0;
    if (*m_bulk) {
        bulk_insert::fill(m_bulk_rows, _range);
        inserted = m_connection->execute_bulk(bulk_insert::statement, m_bulk_rows);
    } else {
        inserted = m_connection->execute(render_insert_statement(
            _range, [this](std::string_view _text) { return m_connection->escape(_text); }));
    }
    m_logger.debug("Rows inserted %1%") % inserted;
}

long long database_impl::count_positions_from(timestamp _from) const
{
    return with_located_errors(CORE_SOURCE_LOCATION, [&] {
        auto rows = m_connection->query("SELECT CAST(count(*) AS CHAR) AS n FROM positions WHERE ts >= '" +
                                        _from.to_iso_8601_string(true) + "'");
        if (!rows->next()) return 0LL;
        return std::stoll(rows->get_string("n"));
    });
}

bool database_impl::has_position(const position& _position) const
{
    const auto count = with_located_errors(CORE_SOURCE_LOCATION, [&] {
        const std::string sql = (boost::format(R"(
                            SELECT
                                x
                            FROM
                                positions
                            WHERE
                                    trackable_uid = '%1%'
                                and ts = '%2%'
                            ;
                    )") % m_connection->escape(_position.trackable_uid) %
                                 _position.ts.to_iso_8601_string(true))
                                    .str();
        return m_connection->query(sql)->row_count();
    });
    (m_logger.debug("Count: %1%") % count).short_function(CORE_SOURCE_LOCATION);
    return count != 0;
}

std::map<std::string, long long> database_impl::count_positions_at(timestamp _ts) const
{
    return with_located_errors(CORE_SOURCE_LOCATION, [&] {
        std::map<std::string, long long> counts;
        auto rows = m_connection->query(
            "SELECT trackable_uid, CAST(count(*) AS CHAR) AS n FROM positions WHERE ts = '" +
            _ts.to_iso_8601_string(true) + "' GROUP BY trackable_uid");
        while (rows->next()) counts[rows->get_string("trackable_uid")] = std::stoll(rows->get_string("n"));
        return counts;
    });
}

}  // namespace zav
