#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

namespace zav::libs::core {

// The file operations that replacing a file is made of: creating, writing
// and syncing the temporary file, renaming it over the name, syncing the
// directory, removing a temporary file. Everything that replaces a file goes
// through one, so that a test can put one in place that fails any step (see
// posix() for the real one). Each operation behaves as the POSIX call it
// stands for: on failure it returns -1 and sets errno.
class file_system
{
public:
    virtual ~file_system() = default;

    // Creates _path for writing and returns its descriptor; fails with
    // EEXIST when _path exists. The permissions are those the umask leaves of
    // 0666, as for any newly created file.
    virtual int create_new(const std::string& _path) = 0;
    // Writes at most _data.size() bytes; returns how many were written.
    virtual ssize_t write(int _fd, std::string_view _data) = 0;
    // Makes what was written to _fd durable (fsync).
    virtual int sync(int _fd) = 0;
    virtual int close(int _fd) = 0;
    // Replaces _to by _from in one step.
    virtual int rename(const std::string& _from, const std::string& _to) = 0;
    virtual int remove(const std::string& _path) = 0;
    // Makes the names in the directory _path durable, a rename among them
    // included (opens it, fsyncs and closes it).
    virtual int sync_directory(const std::string& _path) = 0;

    // The file system of the operating system; lives as long as the process.
    static file_system& posix();
};

}  // namespace zav::libs::core
