#include "core/output_file.hpp"

#include "live_temporaries.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string_view>

namespace zav::libs::core {

namespace {

std::string directory_of(const std::string& _path)
{
    const auto slash = _path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return _path.substr(0, slash);
}

std::string_view base_name_of(std::string_view _path)
{
    const auto slash = _path.rfind('/');
    return slash == std::string_view::npos ? _path : _path.substr(slash + 1);
}

// FNV-1a: the same for a name in every build, so that a later run finds the
// temporary files of an earlier one.
std::uint64_t name_hash(std::string_view _name)
{
    std::uint64_t hash = 14695981039346656037ULL;
    for (const char c : _name) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
    return hash;
}

// ".trackmend-<16 hex digits>-": at most 28 bytes with the pid and an
// attempt number behind it, whatever the length of the name.
std::string temporary_prefix(std::string_view _base_name)
{
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(name_hash(_base_name)));
    return ".trackmend-" + std::string(hex) + "-";
}

// Earlier versions named the temporary file "<name>.tmp.<pid>[.<attempt>]".
std::string earlier_temporary_prefix(std::string_view _base_name)
{
    return std::string(_base_name) + ".tmp.";
}

// The pid of a temporary name's suffix "<pid>[<separator><attempt>]", or 0
// when the suffix has another form.
pid_t pid_of_suffix(std::string_view _suffix, char _separator)
{
    long long pid = 0;
    std::size_t i = 0;
    for (; i < _suffix.size() && i < 10 && _suffix[i] >= '0' && _suffix[i] <= '9'; ++i)
        pid = pid * 10 + (_suffix[i] - '0');
    if (i == 0 || pid <= 0 || pid > std::numeric_limits<pid_t>::max()) return 0;
    if (i == _suffix.size()) return static_cast<pid_t>(pid);
    if (_suffix[i] != _separator || i + 1 == _suffix.size()) return 0;
    for (++i; i < _suffix.size(); ++i)
        if (_suffix[i] < '0' || _suffix[i] > '9') return 0;
    return static_cast<pid_t>(pid);
}

bool process_has_ended(pid_t _pid) { return ::kill(_pid, 0) != 0 && errno == ESRCH; }

bool is_device_or_fifo(mode_t _mode) { return S_ISCHR(_mode) || S_ISFIFO(_mode); }

// How an output name is written.
enum class target { replaced, written_directly };

target target_of(const std::string& _path)
{
    struct stat info
    {
    };
    if (::lstat(_path.c_str(), &info) != 0) {
        if (errno == ENOENT) return target::replaced;
        throw std::runtime_error("cannot create file \"" + _path + "\": " + std::strerror(errno));
    }
    if (S_ISREG(info.st_mode)) return target::replaced;
    if (is_device_or_fifo(info.st_mode)) return target::written_directly;
    struct stat link_target
    {
    };
    if (S_ISLNK(info.st_mode) && ::stat(_path.c_str(), &link_target) == 0 &&
        is_device_or_fifo(link_target.st_mode))
        return target::written_directly;
    throw std::runtime_error("cannot create file \"" + _path + "\": " +
                             (S_ISLNK(info.st_mode) ? "it is a symbolic link to a regular file or to nothing"
                                                    : "it exists and is not a regular file") +
                             "; only a regular file is replaced");
}

}  // namespace

void output_file::remove_leftovers(const std::string& _path, leftovers _which)
{
    const std::string_view base_name = base_name_of(_path);
    const std::string prefixes[] = {temporary_prefix(base_name), earlier_temporary_prefix(base_name)};
    const char separators[] = {'-', '.'};
    live_temporaries::remove_unheld(directory_of(_path), [&](std::string_view _name) {
        for (int i = 0; i < 2; ++i) {
            if (_name.size() <= prefixes[i].size() || !_name.starts_with(prefixes[i])) continue;
            if (_which == leftovers::all) return true;
            const pid_t pid = pid_of_suffix(_name.substr(prefixes[i].size()), separators[i]);
            if (pid != 0 && process_has_ended(pid)) return true;
        }
        return false;
    });
}

output_file::output_file(const std::string& _path, file_system& _fs) : m_fs(_fs), m_path(_path)
{
    if (target_of(_path) == target::written_directly) {
        // Not created: a FIFO or device that is gone by now is an error.
        m_fd = ::open(_path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
        if (m_fd < 0) fail("cannot open file", errno);
        struct stat info
        {
        };
        if (::fstat(m_fd, &info) != 0 || !is_device_or_fifo(info.st_mode)) {
            ::close(m_fd);
            m_fd = -1;
            throw std::runtime_error("cannot open file \"" + _path + "\": it changed while it was opened");
        }
        return;
    }
    // O_EXCL with a name of our own: never truncates a file someone else
    // holds, and 0666 lets the umask decide the permissions as for any
    // newly created file.
    const std::string base =
        directory_of(_path) + "/" + temporary_prefix(base_name_of(_path)) + std::to_string(::getpid());
    for (int attempt = 0; m_fd < 0; ++attempt) {
        m_temporary_path = attempt == 0 ? base : base + "-" + std::to_string(attempt);
        m_fd = live_temporaries::create(m_fs, m_temporary_path);
        if (m_fd < 0 && (errno != EEXIST || attempt >= 100)) fail("cannot create file", errno);
    }
}

output_file::~output_file()
{
    if (m_fd >= 0) m_fs.close(m_fd);
    if (!m_committed && !m_temporary_path.empty()) live_temporaries::remove(m_fs, m_temporary_path);
}

void output_file::fail(const char* _what, int _errno) const
{
    throw std::runtime_error(std::string(_what) + " \"" + m_path + "\": " + std::strerror(_errno));
}

void output_file::write(std::string_view _data)
{
    m_synced = false;
    while (!_data.empty()) {
        const ssize_t n = m_fs.write(m_fd, _data);
        if (n < 0) {
            if (errno == EINTR) continue;
            fail("cannot write file", errno);
        }
        _data.remove_prefix(static_cast<std::size_t>(n));
    }
}

void output_file::sync()
{
    if (!m_temporary_path.empty() && m_fs.sync(m_fd) != 0) fail("cannot sync file", errno);
    m_synced = true;
}

void output_file::commit(bool _durable)
{
    if (_durable && !m_synced) sync();
    const int closed = m_fs.close(m_fd);
    m_fd = -1;
    if (closed != 0) fail("cannot close file", errno);
    if (m_temporary_path.empty()) {
        m_committed = true;
        return;
    }
    // Checked again: the name may have been taken by something else while
    // the content was written.
    if (target_of(m_path) != target::replaced) fail("cannot create file", EEXIST);
    if (live_temporaries::rename(m_fs, m_temporary_path, m_path) != 0) fail("cannot create file", errno);
    m_committed = true;
    if (_durable && m_fs.sync_directory(directory_of(m_path)) != 0)
        fail("cannot sync the directory of file", errno);
}

}  // namespace zav::libs::core
