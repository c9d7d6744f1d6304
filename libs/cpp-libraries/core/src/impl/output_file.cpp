#include "core/output_file.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string_view>
#include <vector>

namespace zav::libs::core {

namespace {

std::string directory_of(const std::string& _path)
{
    const auto slash = _path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return _path.substr(0, slash);
}

// Temporary files are named after the file, with this between the name and a
// suffix that tells writers apart.
constexpr std::string_view temporary_infix = ".tmp.";

}  // namespace

void output_file::remove_leftovers(const std::string& _path)
{
    const std::string directory = directory_of(_path);
    const auto slash = _path.rfind('/');
    const std::string prefix =
        (slash == std::string::npos ? _path : _path.substr(slash + 1)) + std::string(temporary_infix);
    DIR* dir = ::opendir(directory.c_str());
    if (dir == nullptr) return;
    std::vector<std::string> leftovers;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name(entry->d_name);
        if (name.size() > prefix.size() && name.starts_with(prefix)) leftovers.emplace_back(name);
    }
    ::closedir(dir);
    for (const auto& name : leftovers) ::unlink((directory + "/" + name).c_str());
}

output_file::output_file(const std::string& _path) : m_path(_path)
{
    // O_EXCL with a name of our own: never truncates a file someone else
    // holds, and 0666 lets the umask decide the permissions as for any
    // newly created file.
    const std::string base = _path + std::string(temporary_infix) + std::to_string(::getpid());
    for (int attempt = 0; m_fd < 0; ++attempt) {
        m_temporary_path = attempt == 0 ? base : base + "." + std::to_string(attempt);
        m_fd = ::open(m_temporary_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (m_fd < 0 && (errno != EEXIST || attempt >= 100)) fail("cannot create file", errno);
    }
}

output_file::~output_file()
{
    if (m_fd >= 0) ::close(m_fd);
    if (!m_committed) ::unlink(m_temporary_path.c_str());
}

void output_file::fail(const char* _what, int _errno) const
{
    throw std::runtime_error(std::string(_what) + " \"" + m_path + "\": " + std::strerror(_errno));
}

void output_file::write(std::string_view _data)
{
    m_synced = false;
    while (!_data.empty()) {
        const ssize_t n = ::write(m_fd, _data.data(), _data.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            fail("cannot write file", errno);
        }
        _data.remove_prefix(static_cast<std::size_t>(n));
    }
}

void output_file::sync()
{
    if (::fsync(m_fd) != 0) fail("cannot sync file", errno);
    m_synced = true;
}

void output_file::commit(bool _durable)
{
    if (_durable && !m_synced) sync();
    const int closed = ::close(m_fd);
    m_fd = -1;
    if (closed != 0) fail("cannot close file", errno);
    if (::rename(m_temporary_path.c_str(), m_path.c_str()) != 0) fail("cannot create file", errno);
    m_committed = true;
    if (_durable) {
        const std::string directory = directory_of(m_path);
        const int dir_fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir_fd < 0) fail("cannot sync the directory of file", errno);
        const int synced = ::fsync(dir_fd);
        const int sync_errno = errno;
        ::close(dir_fd);
        if (synced != 0) fail("cannot sync the directory of file", sync_errno);
    }
}

}  // namespace zav::libs::core
