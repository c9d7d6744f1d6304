#pragma once

#include "position.hpp"

#include <cstdint>
#include <istream>
#include <string>

namespace zav::binary_records {

// The compact binary form of the daemon's state files, inside the frame of
// state_file (magic, version, length, checksum). Numbers are little-endian
// and of fixed width, strings are a 32-bit length and their bytes, an
// optional is one byte (0 absent, 1 present) and then its value, a vector is
// a 64-bit count and its elements. A position is its ten members in
// declaration order, its time as 64-bit milliseconds since the epoch.
//
// Readers throw std::runtime_error naming what is wrong when the input ends
// early or holds an impossible value.

// Writers append to a buffer that the caller writes out whole: a state file
// is replaced as one block, never streamed field by field.
// The four-byte _magic and the 32-bit _version that start a state file.
void append_header(std::string& _out, const char (&_magic)[5], std::uint32_t _version);

void append_u32(std::string& _out, std::uint32_t _value);
void append_i64(std::string& _out, std::int64_t _value);
std::uint32_t read_u32(std::istream& _is);
std::int64_t read_i64(std::istream& _is);

void append_positions(std::string& _out, const positions_vector& _positions);
positions_vector read_positions(std::istream& _is);

// Throws unless the stream is exhausted: trailing bytes mean a file of
// another layout.
void expect_end(std::istream& _is);

}  // namespace zav::binary_records
