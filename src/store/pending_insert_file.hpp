#pragma once

#include "position.hpp"

#include <string>

namespace zav::pending_insert_file {

// Replaces the file at _path atomically with a Boost text archive of
// _positions: after a crash it holds either the previous or the new batch,
// complete. Throws when the file cannot be written; the old file then stays.
void save(const std::string& _path, const positions_vector& _positions);

// The batch archived at _path; empty when the file cannot be opened. A file
// that is no valid archive is deleted, then zav::libs::core::exception with
// the archive's error text is thrown.
positions_vector load(const std::string& _path);

}  // namespace zav::pending_insert_file
