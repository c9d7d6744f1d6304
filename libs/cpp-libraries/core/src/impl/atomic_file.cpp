#include "core/atomic_file.hpp"

#include "core/exception.hpp"
#include "core/scope_guard.hpp"

#include <cerrno>
#include <dirent.h>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sstream>
#include <string_view>
#include <vector>
#include <unistd.h>

namespace zav::libs::core {

namespace {

[[noreturn]] void fail(const std::string& _what, const std::string& _path, int _errno, source_location _location)
{
    throw exception(_what + " '" + _path + "': " + std::strerror(_errno), _location);
}

void write_all(int _fd, const std::string& _data, const std::string& _path)
{
    const char* p = _data.data();
    std::size_t left = _data.size();
    while (left > 0) {
        const ssize_t n = ::write(_fd, p, left);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            fail("Cannot write", _path, errno, CORE_SOURCE_LOCATION);
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
}

std::string directory_of(const std::string& _path)
{
    const auto slash = _path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return _path.substr(0, slash);
}

std::string base_name_of(const std::string& _path)
{
    const auto slash = _path.rfind('/');
    return slash == std::string::npos ? _path : _path.substr(slash + 1);
}

// A crash between creating and renaming the temporary file leaves it behind;
// the next write of the same file removes such leftovers so they never pile
// up. Only one process writes a given state file (the daemon holds the PID
// file lock), so a leftover is never another writer's file in progress.
void remove_leftover_temporaries(const std::string& _directory, const std::string& _base_name)
{
    DIR* dir = ::opendir(_directory.c_str());
    if (dir == nullptr)
        return;
    const std::string prefix = _base_name + ".tmp.";
    std::vector<std::string> leftovers;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name(entry->d_name);
        if (name.size() == prefix.size() + 6 && name.starts_with(prefix))
            leftovers.emplace_back(name);
    }
    ::closedir(dir);
    for (const auto& name : leftovers)
        ::unlink((_directory + "/" + name).c_str());
}

}  // namespace

void write_file_atomically(const std::string& _path, const std::function<void(std::ostream&)>& _write)
{
    // The whole content is rendered first, so a failing writer never touches
    // the file system.
    std::ostringstream content;
    _write(content);
    if (!content)
        throw exception("Cannot render the content of '" + _path + "'", CORE_SOURCE_LOCATION);
    const std::string data = content.str();

    const std::string directory = directory_of(_path);
    remove_leftover_temporaries(directory, base_name_of(_path));

    std::string temporary = _path + ".tmp.XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0)
        fail("Cannot create a temporary file for", _path, errno, CORE_SOURCE_LOCATION);
    bool renamed = false;
    auto cleanup = make_scope_guard([&] {
        if (!renamed)
            ::unlink(temporary.c_str());
    });
    {
        auto close_fd = make_scope_guard([fd] { ::close(fd); });
        ::fchmod(fd, 0644);
        write_all(fd, data, temporary);
        if (::fsync(fd) != 0)
            fail("Cannot sync", temporary, errno, CORE_SOURCE_LOCATION);
    }
    if (::rename(temporary.c_str(), _path.c_str()) != 0)
        fail("Cannot replace", _path, errno, CORE_SOURCE_LOCATION);
    renamed = true;

    const int dir_fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY);
    if (dir_fd < 0)
        fail("Cannot open directory", directory, errno, CORE_SOURCE_LOCATION);
    const int synced = ::fsync(dir_fd);
    const int sync_errno = errno;
    ::close(dir_fd);
    if (synced != 0)
        fail("Cannot sync directory", directory, sync_errno, CORE_SOURCE_LOCATION);
}

}  // namespace zav::libs::core
