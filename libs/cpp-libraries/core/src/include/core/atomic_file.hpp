#pragma once

#include "core/file_system.hpp"

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>

namespace zav::libs::core {

class output_file;

// Replaces the file _path with what _write produces, so that after a crash or
// power loss at any moment the file holds either its old or its new complete
// content: the content goes to a temporary file in the same directory, which
// is flushed, fsync'ed and renamed over _path, and the directory is fsync'ed.
// The content is rendered in memory first: an exception of _write passes to the
// caller unchanged, before the file system is touched. A failing file step
// throws zav::libs::core::exception naming the file and the system's reason;
// the old file is then untouched and no temporary file is left behind. A
// failure to sync the directory comes after the rename: the file then holds
// the new content, which a crash may still undo. Every step goes through _fs,
// which must outlive the call.
void write_file_atomically(const std::string& _path, const std::function<void(std::ostream&)>& _write,
                           file_system& _fs = file_system::posix());
// The same for content rendered by the caller, written as it stands.
void write_file_atomically(const std::string& _path, std::string_view _content,
                           file_system& _fs = file_system::posix());

// The same in two steps, for content that is known before the moment it may
// replace the file: the slow part (writing and fsync'ing the temporary file)
// is done on construction, commit() only renames it over _path and fsyncs the
// directory. Destroyed without commit(), it removes the temporary file and
// the old file stays. Failures throw zav::libs::core::exception as above.
// Any number of prepared files of one name may exist at a time, on any
// threads: each has a temporary file of its own, and the leftovers removed on
// construction are only those that no writer of this process holds.
class prepared_file
{
public:
    prepared_file(const std::string& _path, std::string_view _content,
                  file_system& _fs = file_system::posix());
    prepared_file(prepared_file&&) noexcept;
    prepared_file& operator=(prepared_file&&) noexcept;
    ~prepared_file();

    void commit();

private:
    std::unique_ptr<output_file> m_file;
};

}  // namespace zav::libs::core
