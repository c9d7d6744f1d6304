#include "batch/piece_reader.hpp"

#include "batch/csv_position_parser.hpp"
#include "batch/failure_text.hpp"

#include <algorithm>
#include <exception>

namespace zav {

namespace {

// Pieces collect in a block until it holds this many records: small pieces
// then cross over thousands at a time, large ones one at a time.
constexpr std::size_t block_records = 1 << 16;
constexpr int block_count = 2;

}  // namespace

void piece_reader::block::clear()
{
    records.clear();
    pieces.clear();
    new_texts.clear();
    error.clear();
}

piece_reader::piece_reader(csv_line_reader& _input, std::size_t _piece_size)
    : m_input(_input), m_piece_size(std::max<std::size_t>(_piece_size, 1))
{
    for (int i = 0; i < block_count; ++i) m_free.push_back(std::make_unique<block>());
    m_thread = std::thread([this] { read_all(); });
}

piece_reader::~piece_reader()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

piece_reader::block& piece_reader::next()
{
    std::unique_lock lock(m_mutex);
    if (m_in_use) {
        m_in_use->clear();
        m_free.push_back(std::move(m_in_use));
        m_changed.notify_all();
    }
    m_changed.wait(lock, [this] { return m_ready != nullptr; });
    m_in_use = std::move(m_ready);
    m_changed.notify_all();
    return *m_in_use;
}

void piece_reader::read_all()
{
    for (;;) {
        std::unique_ptr<block> current;
        {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [this] { return m_stop || !m_free.empty(); });
            if (m_stop) return;
            current = std::move(m_free.back());
            m_free.pop_back();
        }
        const bool more = fill(*current);
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_stop || m_ready == nullptr; });
        if (m_stop) return;
        m_ready = std::move(current);
        m_changed.notify_all();
        if (!more) return;
    }
}

bool piece_reader::fill(block& _block)
{
    try {
        // Room for the whole block at once: grown by doubling, the buffer of
        // a piece of 100,000 positions would take a third more memory than
        // it needs. Pieces beyond the cap grow as they are read, so that a
        // huge piece size costs only what the input fills.
        constexpr std::size_t reserve_cap = std::size_t{1} << 20;
        _block.records.reserve(m_piece_size >= block_records ? std::min(m_piece_size, reserve_cap)
                                                             : block_records + m_piece_size);
        do {
            for (std::size_t added = 0; added < m_piece_size;) {
                // Relaxed: what the destructor wants seen is the flag alone.
                if (m_stop.load(std::memory_order_relaxed)) return false;
                const auto line = m_input.next_line();
                if (!line) break;
                // The next line's uid is looked up while this line is parsed:
                // with thousands of tags its place in the table is out of the
                // cache. Uids kept inline have at most 16 bytes.
                const std::string_view next = m_input.unread().substr(0, 17);
                if (const std::size_t uid_end = next.find('|'); uid_end != std::string_view::npos)
                    m_strings.prefetch_number(next.substr(0, uid_end));
                const csv_line kind = append_csv_record(*line, m_strings, _block.records);
                if (kind == csv_line::position) ++added;
                if (kind == csv_line::other_kind) ++m_other_kinds;
            }
            _block.pieces.push_back({_block.records.size(), m_input.consumed(), m_input.lines(),
                                     m_other_kinds, m_input.at_end()});
        } while (!m_input.at_end() && _block.records.size() < block_records);
        m_strings.texts_from(m_texts_handed_out, _block.new_texts);
        m_texts_handed_out = m_strings.size();
    } catch (const std::exception& e) {
        // Also running out of memory: the user reports it like a read error.
        _block.error = failure_text(e);
    }
    return _block.error.empty() && !m_input.at_end();
}

}  // namespace zav
