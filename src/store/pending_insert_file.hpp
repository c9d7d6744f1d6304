#pragma once

#include "position.hpp"

#include "core/file_system.hpp"

#include <boost/optional.hpp>

#include <cstdint>
#include <string>

namespace zav::pending_insert_file {

// A write in progress: its batch, and what recovery needs to find how much
// of it is already in positions. The pieces of a write go in in order, each
// in its own transaction, so the rows present are a prefix of the batch.
struct pending_write
{
    positions_vector positions;
    // Rows of positions with ts at or after the batch's earliest time before
    // the first piece went in; the count now minus this is the prefix length.
    // Absent in files of the text format, which did not record it.
    boost::optional<std::int64_t> rows_before;
};

// Replaces the file at _path atomically (temporary file, fsync, rename,
// directory fsync) with the binary record of the write of _positions, with
// _rows_before as in pending_write: after a crash it holds either the
// previous or the new write, complete. Throws when the file cannot be
// written; the old file then stays. The batch is not copied. The file is
// written through _fs.
void save(const std::string& _path, const positions_vector& _positions, std::int64_t _rows_before,
          libs::core::file_system& _fs = libs::core::file_system::posix());
// The content that save() writes, for a caller that writes it itself.
std::string encode(const positions_vector& _positions, std::int64_t _rows_before);

// The write recorded at _path, in the binary format (checksummed, or of
// version 1) or the text archive of earlier versions (a batch alone); none
// when the file does not exist. A file whose content fails its check or does
// not parse throws corrupt_state_file_error and is left exactly as it is:
// it may hold the only copy of rows positions lacks, and an operator, not
// the daemon, decides to go on without them. A file that cannot be opened
// or read throws libs::core::exception.
boost::optional<pending_write> load(const std::string& _path);

// The earliest time of a batch: every row of the batch has ts at or after it.
timestamp earliest_time(const positions_vector& _positions);

}  // namespace zav::pending_insert_file
