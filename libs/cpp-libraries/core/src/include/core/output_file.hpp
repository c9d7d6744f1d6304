#pragma once

#include "core/file_system.hpp"

#include <string>
#include <string_view>

namespace zav::libs::core {

// A file that appears under its name only when it is complete: the content
// goes to a temporary file beside it, which commit() renames over the name.
// Until then an existing file of that name stays as it was, and a writer that
// fails or is destroyed early leaves nothing behind. Only a regular file is
// ever replaced: a character device or a FIFO (also behind a symbolic link,
// as /dev/stdout is) is written to directly, and any other kind of file
// (a directory, a symbolic link to a regular file, a block device) is
// refused. Failures throw std::runtime_error naming the file and the
// system's reason.
//
// Temporary names are short, hidden and fixed per name and process
// (".trackmend-<hash of the name>-<pid>"), so that they fit beside any name
// the file system accepts and leftovers can be told by their name.
//
// The temporary file is created, written, synced, renamed and removed
// through a file_system (the real one unless the caller passes another),
// which must outlive the writer.
class output_file
{
public:
    // Creates the temporary file (permissions as a plain create would give
    // them, subject to the umask), or opens the device or FIFO.
    explicit output_file(const std::string& _path, file_system& _fs = file_system::posix());
    // Removes the temporary file unless commit() succeeded.
    ~output_file();

    output_file(const output_file&) = delete;
    output_file& operator=(const output_file&) = delete;

    void write(std::string_view _data);

    // Syncs what was written so far to the disk, so that a durable commit()
    // that follows has only the rename left to sync. Nothing to do for a
    // device or a FIFO.
    void sync();

    // Closes the temporary file and renames it to the final name, unless the
    // name has come to stand for something other than a regular file in the
    // meantime. With _durable the content and the rename are synced to the
    // disk first, for callers that delete the only other copy of the data
    // next. A device or a FIFO is only closed.
    void commit(bool _durable);

    const std::string& path() const { return m_path; }

    // Which temporary files of a name remove_leftovers() removes.
    enum class leftovers {
        // Every one that no writer of this process holds: for files that a
        // single process writes (the daemon's state files, guarded by the
        // PID file lock), where any other temporary file is left by a writer
        // that was killed. A writer on another thread of the process keeps
        // its temporary file.
        all,
        // Those whose process has ended: for files that several processes
        // may be writing at the same time.
        of_ended_processes,
    };
    // Removes temporary files of _path that a writer killed before commit()
    // left behind, also those named as earlier versions named them
    // ("<name>.tmp.<pid>").
    static void remove_leftovers(const std::string& _path, leftovers _which);

private:
    [[noreturn]] void fail(const char* _what, int _errno) const;

    file_system& m_fs;
    std::string m_path;
    // Empty when the file is written directly.
    std::string m_temporary_path;
    int m_fd = -1;
    bool m_synced = false;
    bool m_committed = false;
};

}  // namespace zav::libs::core
