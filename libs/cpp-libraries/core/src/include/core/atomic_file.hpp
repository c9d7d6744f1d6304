#pragma once

#include <functional>
#include <ostream>
#include <string>

namespace zav::libs::core {

// Replaces the file _path with what _write produces, so that after a crash or
// power loss at any moment the file holds either its old or its new complete
// content: the content goes to a temporary file in the same directory, which
// is flushed, fsync'ed and renamed over _path, and the directory is fsync'ed.
// Throws zav::libs::core::exception naming the file and the system's reason
// when any step fails; the old file is then untouched and no temporary file
// is left behind. Exceptions of _write propagate the same way.
void write_file_atomically(const std::string& _path, const std::function<void(std::ostream&)>& _write);

}  // namespace zav::libs::core
