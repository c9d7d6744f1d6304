#pragma once

#include <string>
#include <string_view>

namespace zav::libs::core {

// A file that appears under its name only when it is complete: the content
// goes to a temporary file beside it, which commit() renames over the name.
// Until then an existing file of that name stays as it was, and a writer that
// fails or is destroyed early leaves nothing behind. Failures throw
// std::runtime_error naming the file and the system's reason.
class output_file
{
public:
    // Creates the temporary file (permissions as a plain create would give
    // them, subject to the umask).
    explicit output_file(const std::string& _path);
    // Removes the temporary file unless commit() succeeded.
    ~output_file();

    output_file(const output_file&) = delete;
    output_file& operator=(const output_file&) = delete;

    void write(std::string_view _data);

    // Syncs what was written so far to the disk, so that a durable commit()
    // that follows has only the rename left to sync.
    void sync();

    // Closes the temporary file and renames it to the final name. With
    // _durable the content and the rename are synced to the disk first, for
    // callers that delete the only other copy of the data next.
    void commit(bool _durable);

    const std::string& path() const { return m_path; }

    // Removes temporary files of _path that a writer killed before commit()
    // left behind. Only for files that a single process writes (the daemon's
    // state files, guarded by the PID file lock): another writer's temporary
    // file in progress would be removed too.
    static void remove_leftovers(const std::string& _path);

private:
    [[noreturn]] void fail(const char* _what, int _errno) const;

    std::string m_path;
    std::string m_temporary_path;
    int m_fd = -1;
    bool m_synced = false;
    bool m_committed = false;
};

}  // namespace zav::libs::core
