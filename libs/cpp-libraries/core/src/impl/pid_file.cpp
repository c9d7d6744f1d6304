#include "core/pid_file.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <utility>

#include "core/exception.hpp"

namespace zav::libs::core {

namespace {

// Owns a descriptor until release() hands it over.
class file_descriptor
{
public:
    file_descriptor() = default;
    explicit file_descriptor(int _fd) : m_fd(_fd) {}
    file_descriptor(file_descriptor&& _other) noexcept : m_fd(std::exchange(_other.m_fd, -1)) {}
    file_descriptor& operator=(file_descriptor&& _other) noexcept
    {
        if (this != &_other) {
            if (m_fd >= 0) ::close(m_fd);
            m_fd = std::exchange(_other.m_fd, -1);
        }
        return *this;
    }
    ~file_descriptor()
    {
        if (m_fd >= 0) ::close(m_fd);
    }

    int get() const { return m_fd; }
    explicit operator bool() const { return m_fd >= 0; }
    int release() { return std::exchange(m_fd, -1); }

private:
    int m_fd = -1;
};

struct held_file
{
    int fd;
    bool writable;
};

// The PID files this process holds locked, by name. The descriptors are
// never closed: closing one would release the lock before the process ends.
struct held_files
{
    std::mutex mutex;
    std::map<std::string, held_file> files;
};

held_files& held()
{
    static held_files instance;
    return instance;
}

enum class lock_state { locked, cannot_open, busy, failed };

struct lock_attempt
{
    lock_state state;
    file_descriptor fd;
    bool writable = false;
    int error = 0;
};

// Opens the file without changing it (no truncation, so a refused caller
// leaves it as it was) and tries to take the exclusive lock without waiting.
// A file that can be read but not written is still opened and locked, so that
// the check can report a live owner before the write reports the open error.
lock_attempt try_lock(const std::string& _name)
{
    constexpr int common_flags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    bool writable = true;
    int fd = ::open(_name.c_str(), O_RDWR | O_CREAT | common_flags, 0644);
    if (fd < 0) {
        writable = false;
        fd = ::open(_name.c_str(), O_RDONLY | common_flags);
    }
    if (fd < 0) return {lock_state::cannot_open, {}, false, errno};
    file_descriptor owned(fd);
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        if (error == EINTR) continue;
        // A busy file stays open, so that the refusal can name its holder.
        if (error == EWOULDBLOCK) return {lock_state::busy, std::move(owned), false, error};
        return {lock_state::failed, {}, false, error};
    }
    return {lock_state::locked, std::move(owned), writable, 0};
}

// Replaces the whole content with _text; returns 0 or the errno of the failure.
int replace_content(int _fd, const std::string& _text)
{
    if (::ftruncate(_fd, 0) != 0) return errno;
    std::size_t written = 0;
    while (written < _text.size()) {
        const ssize_t count =
            ::pwrite(_fd, _text.data() + written, _text.size() - written, static_cast<off_t>(written));
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) return errno;
        if (count == 0) return EIO;
        written += static_cast<std::size_t>(count);
    }
    return 0;
}

std::string system_error_text(int _error) { return std::strerror(_error); }

// Why the file cannot be opened for writing, as the system says.
int open_error(const std::string& _name)
{
    const int fd = ::open(_name.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0644);
    if (fd < 0) return errno;
    ::close(fd);
    return EACCES;
}

// Who holds a locked PID file, as far as its content says: the holder
// writes its id right after taking the lock.
std::string holder_text(int _fd)
{
    char buffer[32] = {};
    const ssize_t count = ::pread(_fd, buffer, sizeof buffer - 1, 0);
    const std::string content(buffer, count > 0 ? static_cast<std::size_t>(count) : 0);
    if (content.find_first_not_of("0123456789") != std::string::npos ||
        content.find_first_not_of('0') == std::string::npos)
        return "another process";
    return "process " + content;
}

// The PID file's descriptor for a check or a write: the one this process
// already holds, or a newly opened and locked one, which the caller adds to
// the held files once it has accepted the file. A lock held by another
// process refuses the caller, whatever the file says.
struct pid_file_lock
{
    bool opened = false;
    int fd = -1;
    bool writable = false;
    file_descriptor newly_locked;
};

pid_file_lock lock_pid_file(const std::map<std::string, held_file>& _files, const std::string& _name)
{
    if (const auto found = _files.find(_name); found != _files.end())
        return {true, found->second.fd, found->second.writable, {}};
    auto attempt = try_lock(_name);
    switch (attempt.state) {
        case lock_state::cannot_open:
            return {};
        case lock_state::busy:
            throw exception(
                "Process is running: " + holder_text(attempt.fd.get()) + " holds the PID file " + _name,
                CORE_SOURCE_LOCATION);
        case lock_state::failed:
            throw exception("write_pid: flock(): " + system_error_text(attempt.error), CORE_SOURCE_LOCATION);
        case lock_state::locked:
            break;
    }
    const int fd = attempt.fd.get();
    return {true, fd, attempt.writable, std::move(attempt.fd)};
}

}  // namespace

void write_pid(const std::string& _pid_file_name)
{
    detail::check_pid(_pid_file_name);
    detail::write_pid(_pid_file_name);
}

namespace detail {

void check_pid(const std::string& _pid_file_name)
{
    const std::lock_guard guard(held().mutex);
    auto& files = held().files;

    // Typically no such file, or a missing directory: nothing is recorded,
    // and the write reports what is wrong with the path.
    auto lock = lock_pid_file(files, _pid_file_name);
    if (!lock.opened) return;

    // Every daemon holds the lock for as long as it runs, so whoever recorded
    // its id here has ended: the id proves nothing more. Asking kill() about
    // it would refuse the start whenever the id has since been reused by an
    // unrelated process (after a reboot, in a container where the daemon is
    // always the same id), or belongs to another user's process.
    if (lock.newly_locked)
        files.emplace(_pid_file_name, held_file{lock.newly_locked.release(), lock.writable});
}

void write_pid(const std::string& _pid_file_name)
{
    const std::lock_guard guard(held().mutex);
    auto& files = held().files;

    auto lock = lock_pid_file(files, _pid_file_name);
    if (!lock.opened || !lock.writable)
        throw exception("Error opening pid-file! " + _pid_file_name + ": " +
                            system_error_text(open_error(_pid_file_name)),
                        CORE_SOURCE_LOCATION);

    // Truncated only now, under the lock: a caller refused above never
    // changes the file. An interruption between the two steps leaves an empty
    // file, which records no process.
    if (const int error = replace_content(lock.fd, std::to_string(::getpid())); error != 0)
        throw exception("write_pid: write(): " + system_error_text(error), CORE_SOURCE_LOCATION);

    if (lock.newly_locked) files.emplace(_pid_file_name, held_file{lock.newly_locked.release(), true});
}

}  // namespace detail

}  // namespace zav::libs::core
