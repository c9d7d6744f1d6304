#pragma once

#include "core/file_system.hpp"

#include <exception>
#include <string>
#include <thread>

namespace zav::libs::core {

// Replaces a file as write_file_atomically() does, on a thread of its own,
// while the caller goes on. The thread uses nothing but the path and the
// content handed over, which it owns, and the file system, which must
// outlive this object. Whichever way this object goes, it waits for the
// thread first: the write never outlives it.
class background_file_write
{
public:
    background_file_write(std::string _path, std::string _content, file_system& _fs = file_system::posix());
    // Waits for the write; a failure that wait() did not report is dropped.
    ~background_file_write();

    background_file_write(const background_file_write&) = delete;
    background_file_write& operator=(const background_file_write&) = delete;

    // Waits for the write and throws what write_file_atomically() threw.
    // Only the first call waits and reports; later ones return at once.
    void wait();

private:
    // Written by the thread, read only after it has been joined.
    std::exception_ptr m_failure;
    std::thread m_thread;
};

}  // namespace zav::libs::core
