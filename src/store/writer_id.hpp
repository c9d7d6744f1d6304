#pragma once

#include <string>

namespace zav {

// The name under which this daemon holds the writer lease: a random
// identifier kept in <persistent_data_dir>/writer_id, created on the first
// start. A daemon restarted after a crash on the same state directory is the
// same writer (it alone can complete the interrupted write recorded there)
// and takes its lease back at once instead of waiting for it to expire;
// another state directory, on this host or another, is another writer.
// Throws zav::libs::core::exception when the file cannot be read or written.
std::string load_or_create_writer_id(const std::string& _persistent_data_dir);

}  // namespace zav
