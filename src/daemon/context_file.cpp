#include "daemon/context_file.hpp"

#include "store/binary_records.hpp"
#include "store/state_file.hpp"

#include "core/atomic_file.hpp"

#include <boost/archive/text_iarchive.hpp>
#include <boost/serialization/map.hpp>
#include <boost/serialization/utility.hpp>

namespace zav::context_file {

namespace {

constexpr state_file::kind runner_file{
    "TMRC", "the pipeline's carry-over context for the next window",
    "The daemon then rebuilds that context from the raw rows before the newest written time."};

void read_body(std::istream& _is, contexts& _contexts)
{
    const auto count = binary_records::read_u32(_is);
    for (std::uint32_t i = 0; i < count; ++i) {
        const timestamp key(std::chrono::milliseconds(binary_records::read_i64(_is)));
        auto& context = _contexts[key];
        context.not_processed_positions = binary_records::read_positions(_is);
        context.processed_positions = binary_records::read_positions(_is);
        context.processed_filtered_positions = binary_records::read_positions(_is);
    }
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

libs::core::prepared_file prepare_save(const std::string& _path, const records& _records,
                                       libs::core::file_system& _fs)
{
    std::size_t size = 0;
    for (const auto& [key, record] : _records) size += record.size();
    std::string content;
    content.reserve(size + 24);
    state_file::begin(content, runner_file);
    binary_records::append_u32(content, static_cast<std::uint32_t>(_records.size()));
    for (const auto& [key, record] : _records) content += record;
    state_file::finish(content);
    return libs::core::prepared_file(_path, content, _fs);
}

void save(const std::string& _path, const records& _records, libs::core::file_system& _fs)
{
    prepare_save(_path, _records, _fs).commit();
}

void save(const std::string& _path, const contexts& _contexts, libs::core::file_system& _fs)
{
    records encoded;
    for (const auto& [key, context] : _contexts) encoded.emplace(key, encode(key, context));
    save(_path, encoded, _fs);
}

boost::optional<contexts> load(const std::string& _path)
{
    contexts result;
    const bool found = state_file::load(
        _path, runner_file, [&](std::istream& _is) { read_body(_is, result); },
        [&](boost::archive::text_iarchive& _archive) { _archive >> result; });
    if (!found) return boost::none;
    return result;
}

}  // namespace zav::context_file
