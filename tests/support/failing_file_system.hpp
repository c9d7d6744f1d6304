#pragma once

// A file system for tests: the real one, except that the step chosen fails
// as a full or broken disk would make it fail, and every step is recorded in
// order.

#include "core/file_system.hpp"

#include <cerrno>
#include <string>
#include <vector>

namespace trackmend_test {

class failing_file_system : public zav::libs::core::file_system
{
public:
    enum class step { none, create, write, sync, close, rename, sync_directory };

    explicit failing_file_system(step _failing = step::none) : m_failing(_failing) {}

    int create_new(const std::string& _path) override
    {
        return fails(step::create, EACCES) ? -1 : real().create_new(_path);
    }
    ssize_t write(int _fd, std::string_view _data) override
    {
        // Half of the data goes to the disk before it is full, as it would.
        if (fails(step::write, ENOSPC)) {
            if (_data.size() > 1) real().write(_fd, _data.substr(0, _data.size() / 2));
            errno = ENOSPC;
            return -1;
        }
        return real().write(_fd, _data);
    }
    int sync(int _fd) override { return fails(step::sync, EIO) ? -1 : real().sync(_fd); }
    int close(int _fd) override
    {
        // The descriptor is closed all the same, as close(2) does.
        if (fails(step::close, EIO)) {
            real().close(_fd);
            errno = EIO;
            return -1;
        }
        return real().close(_fd);
    }
    int rename(const std::string& _from, const std::string& _to) override
    {
        return fails(step::rename, EIO) ? -1 : real().rename(_from, _to);
    }
    int remove(const std::string& _path) override
    {
        m_steps.push_back("remove");
        return real().remove(_path);
    }
    int sync_directory(const std::string& _path) override
    {
        return fails(step::sync_directory, EIO) ? -1 : real().sync_directory(_path);
    }

    // The steps taken, by name, in order ("create", "write", ...).
    const std::vector<std::string>& steps() const { return m_steps; }

    static const char* name(step _step)
    {
        constexpr const char* names[] = {"none",  "create", "write",         "sync",
                                         "close", "rename", "sync_directory"};
        return names[static_cast<int>(_step)];
    }

private:
    static zav::libs::core::file_system& real() { return zav::libs::core::file_system::posix(); }

    bool fails(step _step, int _errno)
    {
        m_steps.push_back(name(_step));
        if (_step != m_failing) return false;
        errno = _errno;
        return true;
    }

    step m_failing;
    std::vector<std::string> m_steps;
};

}  // namespace trackmend_test
