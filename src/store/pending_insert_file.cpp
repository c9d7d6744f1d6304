#include "store/pending_insert_file.hpp"

#include "store/binary_records.hpp"

#include "core/atomic_file.hpp"
#include "core/exception.hpp"

#include <boost/archive/text_iarchive.hpp>
#include <boost/filesystem/operations.hpp>
#include <boost/serialization/vector.hpp>

#include <algorithm>
#include <fstream>
#include <stdexcept>

namespace zav::pending_insert_file {

namespace {

constexpr char magic[5] = "TMPW";
constexpr std::uint32_t version = 1;

pending_write read(std::istream& _is)
{
    pending_write write;
    if (!binary_records::read_header(_is, magic, version, "pending-insert file")) {
        // Written by a version that kept the batch as a Boost text archive.
        boost::archive::text_iarchive archive(_is);
        archive >> write.positions;
        return write;
    }
    write.rows_before = binary_records::read_i64(_is);
    write.positions = binary_records::read_positions(_is);
    binary_records::expect_end(_is);
    return write;
}

}  // namespace

void save(const std::string& _path, const positions_vector& _positions, std::int64_t _rows_before)
{
    std::string content;
    binary_records::append_header(content, magic, version);
    binary_records::append_i64(content, _rows_before);
    binary_records::append_positions(content, _positions);
    libs::core::write_file_atomically(_path, content);
}

boost::optional<pending_write> load(const std::string& _path)
{
    std::ifstream file(_path, std::ios::binary);
    if (!file) {
        if (!boost::filesystem::exists(_path)) return boost::none;
        throw libs::core::exception("Cannot open " + _path, CORE_SOURCE_LOCATION);
    }
    try {
        return read(file);
    } catch (const std::exception& e) {
        boost::system::error_code ignored;
        boost::filesystem::remove(_path, ignored);
        throw libs::core::exception(_path + ": " + e.what(), CORE_SOURCE_LOCATION);
    }
}

timestamp earliest_time(const positions_vector& _positions)
{
    if (_positions.empty()) return timestamp();
    return std::min_element(_positions.begin(), _positions.end(),
                            [](const position& _a, const position& _b) { return _a.ts < _b.ts; })
        ->ts;
}

}  // namespace zav::pending_insert_file
