#include "store/pending_insert_file.hpp"

#include "store/binary_records.hpp"
#include "store/state_file.hpp"

#include "core/atomic_file.hpp"

#include <boost/archive/text_iarchive.hpp>
#include <boost/serialization/vector.hpp>

#include <algorithm>

namespace zav::pending_insert_file {

namespace {

constexpr state_file::kind pending_file{
    "TMPW", "the positions of an interrupted write",
    "The daemon then resumes after the newest row in positions and computes what the interrupted write "
    "had not inserted yet again from positions_raw, which needs those raw rows to be still there."};

}  // namespace

std::string encode(const positions_vector& _positions, std::int64_t _rows_before)
{
    std::string content;
    state_file::begin(content, pending_file);
    binary_records::append_i64(content, _rows_before);
    binary_records::append_positions(content, _positions);
    state_file::finish(content);
    return content;
}

void save(const std::string& _path, const positions_vector& _positions, std::int64_t _rows_before,
          libs::core::file_system& _fs)
{
    libs::core::write_file_atomically(_path, encode(_positions, _rows_before), _fs);
}

boost::optional<pending_write> load(const std::string& _path)
{
    pending_write write;
    const auto read_body = [&](std::istream& _is) {
        write.rows_before = binary_records::read_i64(_is);
        write.positions = binary_records::read_positions(_is);
    };
    // The text format held the batch alone.
    const auto read_archive = [&](boost::archive::text_iarchive& _archive) { _archive >> write.positions; };
    if (!state_file::load(_path, pending_file, read_body, read_archive)) return boost::none;
    return write;
}

timestamp earliest_time(const positions_vector& _positions)
{
    if (_positions.empty()) return timestamp();
    return std::min_element(_positions.begin(), _positions.end(),
                            [](const position& _a, const position& _b) { return _a.ts < _b.ts; })
        ->ts;
}

}  // namespace zav::pending_insert_file
