#include "daemon/context_file.hpp"

#include "store/binary_records.hpp"

#include "core/atomic_file.hpp"

#include <boost/archive/text_iarchive.hpp>
#include <boost/filesystem/operations.hpp>
#include <boost/serialization/map.hpp>
#include <boost/serialization/utility.hpp>

#include <fstream>
#include <stdexcept>

namespace zav::context_file {

namespace {

constexpr char magic[5] = "TMRC";
constexpr std::uint32_t version = 1;

contexts read(std::istream& _is)
{
    contexts result;
    if (!binary_records::read_header(_is, magic, version, "context file")) {
        // Written by a version that kept the contexts as a Boost text archive.
        boost::archive::text_iarchive archive(_is);
        archive >> result;
        return result;
    }
    const auto count = binary_records::read_u32(_is);
    for (std::uint32_t i = 0; i < count; ++i) {
        const timestamp key(std::chrono::milliseconds(binary_records::read_i64(_is)));
        auto& context = result[key];
        context.not_processed_positions = binary_records::read_positions(_is);
        context.processed_positions = binary_records::read_positions(_is);
        context.processed_filtered_positions = binary_records::read_positions(_is);
    }
    binary_records::expect_end(_is);
    return result;
}

}  // namespace

std::string encode(timestamp _key, const positions_post_processor::additional_data& _context)
{
    std::string record;
    binary_records::append_i64(record, _key.get_time_since_epoch().count());
    binary_records::append_positions(record, _context.not_processed_positions);
    binary_records::append_positions(record, _context.processed_positions);
    binary_records::append_positions(record, _context.processed_filtered_positions);
    return record;
}

libs::core::prepared_file prepare_save(const std::string& _path, const records& _records)
{
    std::size_t size = 0;
    for (const auto& [key, record] : _records) size += record.size();
    std::string content;
    content.reserve(size + 12);
    binary_records::append_header(content, magic, version);
    binary_records::append_u32(content, static_cast<std::uint32_t>(_records.size()));
    for (const auto& [key, record] : _records) content += record;
    return libs::core::prepared_file(_path, content);
}

void save(const std::string& _path, const records& _records) { prepare_save(_path, _records).commit(); }

void save(const std::string& _path, const contexts& _contexts)
{
    records encoded;
    for (const auto& [key, context] : _contexts) encoded.emplace(key, encode(key, context));
    save(_path, encoded);
}

boost::optional<contexts> load(const std::string& _path)
{
    std::ifstream file(_path, std::ios::binary);
    if (!file) {
        if (!boost::filesystem::exists(_path)) return boost::none;
        throw std::runtime_error("cannot open " + _path);
    }
    try {
        return read(file);
    } catch (const std::exception& e) {
        throw std::runtime_error(_path + ": " + e.what());
    }
}

}  // namespace zav::context_file
