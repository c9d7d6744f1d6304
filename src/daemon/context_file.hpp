#pragma once

#include "positions_post_processor.hpp"

#include "core/atomic_file.hpp"
#include "core/timestamp.hpp"

#include <boost/optional.hpp>

#include <map>
#include <string>

namespace zav::context_file {

// runner.bin: the pipeline's carry-over contexts, each keyed by the time of
// the newest written position that its window continues from.
using contexts = std::map<timestamp, positions_post_processor::additional_data>;

// Replaces the file at _path atomically (temporary file, fsync, rename,
// directory fsync) with the binary record of _contexts, through _fs. Throws
// when the file cannot be written; the old file then stays.
void save(const std::string& _path, const contexts& _contexts,
          libs::core::file_system& _fs = libs::core::file_system::posix());

// The same file from the records of its contexts (see encode), in key
// order: a context saved again unchanged is not encoded again.
using records = std::map<timestamp, std::string>;
void save(const std::string& _path, const records& _records,
          libs::core::file_system& _fs = libs::core::file_system::posix());
// The same save in two steps: the file is written and synced beside _path
// now, and takes its place on commit() (see libs::core::prepared_file).
libs::core::prepared_file prepare_save(const std::string& _path, const records& _records,
                                       libs::core::file_system& _fs = libs::core::file_system::posix());
// The record of the context _context under _key, as save() writes it.
std::string encode(timestamp _key, const positions_post_processor::additional_data& _context);

// The contexts recorded at _path, in the binary format (checksummed, or of
// version 1) or the Boost text archive of earlier versions; none when the
// file does not exist. A file whose content fails its check or does not
// parse throws corrupt_state_file_error and is left as it is; one that
// cannot be opened or read throws libs::core::exception.
boost::optional<contexts> load(const std::string& _path);

}  // namespace zav::context_file
