#include "store/state_file.hpp"

#include "store/binary_records.hpp"
#include "store/corrupt_state_file_error.hpp"
#include "store/crc32c.hpp"

#include "core/exception.hpp"

#include <boost/archive/text_iarchive.hpp>
#include <boost/filesystem/operations.hpp>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace zav::state_file {

namespace {

// magic, version, body length
constexpr std::size_t header_size = 4 + 4 + 8;
constexpr std::size_t checksum_size = 4;
// magic, version: the header of version 1
constexpr std::size_t v1_header_size = 4 + 4;

template <typename T>
T read_le_at(const std::string& _bytes, std::size_t _at)
{
    T value = 0;
    for (std::size_t i = sizeof(T); i-- > 0;)
        value = static_cast<T>((value << 8) | static_cast<unsigned char>(_bytes[_at + i]));
    return value;
}

void write_le_at(std::string& _bytes, std::size_t _at, std::uint64_t _value)
{
    for (std::size_t i = 0; i < 8; ++i) {
        _bytes[_at + i] = static_cast<char>(_value & 0xFF);
        _value >>= 8;
    }
}

std::string hex(std::uint32_t _value)
{
    char text[11];
    std::snprintf(text, sizeof text, "0x%08x", _value);
    return text;
}

// What is wrong with a content, for the sentence "State file <path> ...".
struct fault : std::runtime_error
{
    using std::runtime_error::runtime_error;
};

// Where the body of a binary content lies, once its frame has been checked.
struct body_range
{
    std::size_t begin, end;
};

body_range check_frame(const std::string& _content)
{
    const auto size = _content.size();
    if (size < v1_header_size)
        throw fault("is cut short: " + std::to_string(size) + " bytes, fewer than its header takes");
    const auto version = read_le_at<std::uint32_t>(_content, 4);
    // Version 1 had no checksum: it is read as it was, its fields checked
    // by the body's reader alone.
    if (version == 1) return {v1_header_size, size};
    if (version != written_version)
        throw fault("has version " + std::to_string(version) +
                    ", which this trackmend does not know (it reads versions 1 and 2; a newer "
                    "trackmend may have written it, which can go on from it)");
    if (size < header_size + checksum_size)
        throw fault("is cut short: " + std::to_string(size) + " bytes, fewer than its header takes");
    const auto length = read_le_at<std::uint64_t>(_content, 8);
    const auto room = size - header_size - checksum_size;
    if (length > room)
        throw fault("is cut short: " + std::to_string(size) + " bytes where its header announces " +
                    std::to_string(length + header_size + checksum_size));
    if (length < room)
        throw fault("has " + std::to_string(room - length) + " bytes after its end (its header announces " +
                    std::to_string(length + header_size + checksum_size) + " bytes)");
    const auto stored = read_le_at<std::uint32_t>(_content, size - checksum_size);
    const auto computed = crc32c::value(std::string_view(_content).substr(0, size - checksum_size));
    if (stored != computed)
        throw fault("fails its checksum (stored " + hex(stored) + ", computed " + hex(computed) +
                    "): its content changed after it was written");
    return {header_size, size - checksum_size};
}

void read_content(std::string _content, const kind& _kind,
                  const std::function<void(std::istream&)>& _read_body,
                  const std::function<void(boost::archive::text_iarchive&)>& _read_archive)
{
    if (_content.empty()) throw fault("is empty");
    if (_content.compare(0, 4, _kind.magic, 4) != 0) {
        // Written by a version that kept the state as a Boost text archive.
        std::istringstream is(std::move(_content));
        try {
            boost::archive::text_iarchive archive(is);
            _read_archive(archive);
        } catch (const std::exception& e) {
            throw fault(std::string("is neither of this program's format nor a text archive of its earlier "
                                    "versions (") +
                        e.what() + ")");
        }
        return;
    }
    const auto body = check_frame(_content);
    _content.resize(body.end);
    std::istringstream is(std::move(_content));
    is.seekg(static_cast<std::streamoff>(body.begin));
    try {
        _read_body(is);
        binary_records::expect_end(is);
    } catch (const std::exception& e) {
        throw fault(std::string("cannot be read: ") + e.what());
    }
}

}  // namespace

void begin(std::string& _out, const kind& _kind)
{
    binary_records::append_header(_out, _kind.magic, written_version);
    // The body length, filled in by finish().
    binary_records::append_i64(_out, 0);
}

void finish(std::string& _out)
{
    write_le_at(_out, 8, _out.size() - header_size);
    binary_records::append_u32(_out, crc32c::value(_out));
}

bool load(const std::string& _path, const kind& _kind, const std::function<void(std::istream&)>& _read_body,
          const std::function<void(boost::archive::text_iarchive&)>& _read_archive)
{
    std::ifstream file(_path, std::ios::binary | std::ios::ate);
    if (!file) {
        if (!boost::filesystem::exists(_path)) return false;
        throw libs::core::exception("Cannot open " + _path, CORE_SOURCE_LOCATION);
    }
    // Read whole: the checksum covers the file before anything of it is
    // believed. A read error is no fault of the content: it is reported as
    // any failure of the disk is, and the file is not called corrupt.
    const auto size = file.tellg();
    if (size < 0 || !file.seekg(0)) throw libs::core::exception("Cannot read " + _path, CORE_SOURCE_LOCATION);
    std::string content(static_cast<std::size_t>(size), '\0');
    if (!file.read(content.data(), size))
        throw libs::core::exception("Cannot read " + _path, CORE_SOURCE_LOCATION);
    try {
        read_content(std::move(content), _kind, _read_body, _read_archive);
    } catch (const fault& e) {
        // The file is left untouched: whatever the operator decides, the
        // content the fault was found in stays there to inspect.
        throw corrupt_state_file_error("State file " + _path + " " + e.what() + ". It holds " + _kind.holds +
                                           "; it is kept as it is and the daemon stops. To go on without "
                                           "it, move it aside (for example mv " +
                                           _path + " " + _path + ".bad) and start the daemon again. " +
                                           _kind.without_it,
                                       CORE_SOURCE_LOCATION);
    }
    return true;
}

}  // namespace zav::state_file
