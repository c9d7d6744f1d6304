#pragma once

#include <cstdint>
#include <functional>
#include <istream>
#include <string>

namespace boost::archive {
class text_iarchive;
}

namespace zav::state_file {

// The frame shared by the daemon's state files. Version 2, written:
//   magic (4 bytes) | version (u32) | body length (u64) | body | CRC-32C (u32)
// the checksum covering every byte before it, numbers little-endian. The
// length tells a file cut short or grown from one damaged inside. Version 1
// (magic, version, body; no length, no checksum) and the Boost text archives
// of the versions before it are still read, never written.
constexpr std::uint32_t written_version = 2;

// What a state file is: its magic, and for the messages about it what it
// holds and what going on without it means.
struct kind
{
    char magic[5];
    // For example "the carry-over context of the pipeline".
    const char* holds;
    // What the daemon does when the file has been moved aside.
    const char* without_it;
};

// Starts the content of a file of _kind in _out (which should be empty); the
// caller appends the body with binary_records, then calls finish().
void begin(std::string& _out, const kind& _kind);
// Completes a content started with begin(): the body length into the header
// and the checksum after the body.
void finish(std::string& _out);

// Reads the file at _path. Returns false when it does not exist: a first
// start, not an error. Otherwise calls exactly one of _read_body, with a
// stream positioned at the start of the body of a binary file (bytes it
// leaves unread are an error), and _read_archive, with a text archive over a
// file of the earlier format, and returns true.
// A file whose content cannot be trusted or read (checksum, length, version,
// a body or archive that does not parse, and any exception of the two
// readers) throws corrupt_state_file_error naming the file, the fault and
// what the operator can do; the file is left exactly as it is. A file that
// exists but cannot be opened throws libs::core::exception.
bool load(const std::string& _path, const kind& _kind, const std::function<void(std::istream&)>& _read_body,
          const std::function<void(boost::archive::text_iarchive&)>& _read_archive);

}  // namespace zav::state_file
