#include "database_impl.hpp"

#include "store/insert_statement.hpp"
#include "store/located_errors.hpp"
#include "store/pending_insert_file.hpp"

#include <boost/filesystem/operations.hpp>
#include <boost/format.hpp>

#include <algorithm>

namespace zav {

namespace {

// Calls _f for each consecutive sub-range of at most _piece_size positions.
// Writing and recovery must cut a batch the same way: recovery tests the
// first position of each sub-range for the statement that inserted it.
template <typename F>
void for_each_piece(const positions_vector& _positions, int _piece_size, F&& _f)
{
    const auto piece = static_cast<positions_vector::size_type>(_piece_size);
    for (auto begin = _positions.begin(); begin != _positions.end();) {
        const auto end =
            begin + static_cast<std::ptrdiff_t>(
                        std::min(piece, static_cast<positions_vector::size_type>(_positions.end() - begin)));
        _f(boost::sub_range<const positions_vector>(begin, end));
        begin = end;
    }
}

}  // namespace

void database_impl::write_positions(const positions_vector& _positions)
{
    auto guard = m_logger.enter_function(CORE_SOURCE_LOCATION);
    save_positions_to_persistent_file(_positions);
    for_each_piece(_positions, m_insert_piece_size,
                   [&](boost::sub_range<const positions_vector> _range) { write_positions_impl(_range); });
    boost::filesystem::remove(m_persistent_data_file);
}

void database_impl::recover_if_failed()
{
    if (!boost::filesystem::exists(m_persistent_data_file)) return;
    const positions_vector positions = get_positions_from_persistent_file();
    for_each_piece(positions, m_insert_piece_size, [&](boost::sub_range<const positions_vector> _range) {
        // The statement of a sub-range either inserted all of it or none.
        if (!has_position(_range.front())) write_positions_impl(_range);
    });
    boost::filesystem::remove(m_persistent_data_file);
}

void database_impl::clear_positions_table()
{
    with_located_errors(CORE_SOURCE_LOCATION, [&] { m_connection->execute("TRUNCATE TABLE positions"); });
}

void database_impl::write_positions_impl(boost::sub_range<const positions_vector> _range)
{
    const auto rows = with_located_errors(CORE_SOURCE_LOCATION, [&] {
        const std::string sql = render_insert_statement(
            _range, [this](std::string_view _text) { return m_connection->escape(_text); });
        return m_connection->execute(sql);
    });
    m_logger.debug("Rows inserted %1%") % rows;
}

bool database_impl::has_position(const position& _position)
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

void database_impl::save_positions_to_persistent_file(const positions_vector& _positions)
{
    pending_insert_file::save(m_persistent_data_file, _positions);
}

positions_vector database_impl::get_positions_from_persistent_file() const
{
    return pending_insert_file::load(m_persistent_data_file);
}

}  // namespace zav
