#include "core/file_system.hpp"

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>

namespace zav::libs::core {

namespace {

class posix_file_system final : public file_system
{
public:
    int create_new(const std::string& _path) override
    {
        return ::open(_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    }

    ssize_t write(int _fd, std::string_view _data) override
    {
        return ::write(_fd, _data.data(), _data.size());
    }

    int sync(int _fd) override { return ::fsync(_fd); }

    int close(int _fd) override { return ::close(_fd); }

    int rename(const std::string& _from, const std::string& _to) override
    {
        return ::rename(_from.c_str(), _to.c_str());
    }

    int remove(const std::string& _path) override { return ::unlink(_path.c_str()); }

    int sync_directory(const std::string& _path) override
    {
        const int fd = ::open(_path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) return -1;
        const int synced = ::fsync(fd);
        const int sync_errno = errno;
        ::close(fd);
        errno = sync_errno;
        return synced;
    }
};

}  // namespace

file_system& file_system::posix()
{
    static posix_file_system instance;
    return instance;
}

}  // namespace zav::libs::core
