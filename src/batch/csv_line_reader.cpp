#include "batch/csv_line_reader.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace zav {

namespace {

constexpr std::size_t block_size = 1024 * 1024;

}  // namespace

csv_line_reader::csv_line_reader(const std::string& _path) : m_path(_path), m_buffer(2 * block_size)
{
    m_fd = ::open(_path.c_str(), O_RDONLY | O_CLOEXEC);
    if (m_fd < 0) fail(errno);
    struct stat info
    {
    };
    if (::fstat(m_fd, &info) != 0) {
        const int error = errno;
        ::close(m_fd);
        m_fd = -1;
        fail(error);
    }
    if (S_ISDIR(info.st_mode)) {
        ::close(m_fd);
        m_fd = -1;
        fail(EISDIR);
    }
    m_file_size = static_cast<std::uint64_t>(info.st_size);
    m_opened = {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino),
                S_ISREG(info.st_mode)};
}

csv_line_reader::~csv_line_reader()
{
    if (m_fd >= 0) ::close(m_fd);
}

void csv_line_reader::fail(int _errno) const
{
    throw std::runtime_error("cannot read input file \"" + m_path + "\": " + std::strerror(_errno));
}

bool csv_line_reader::fill()
{
    if (m_eof) return false;
    // Move the partial line to the front so that a whole block fits behind it.
    if (m_begin > 0) {
        std::memmove(m_buffer.data(), m_buffer.data() + m_begin, m_end - m_begin);
        m_buffer_offset += m_begin;
        m_end -= m_begin;
        m_begin = 0;
    }
    if (m_buffer.size() - m_end < block_size) m_buffer.resize(m_end + block_size);
    for (;;) {
        const ssize_t n = ::read(m_fd, m_buffer.data() + m_end, m_buffer.size() - m_end);
        if (n < 0) {
            if (errno == EINTR) continue;
            fail(errno);
        }
        if (n == 0) {
            m_eof = true;
            return false;
        }
        m_end += static_cast<std::size_t>(n);
        return true;
    }
}

std::optional<std::string_view> csv_line_reader::next_line()
{
    bool skipping = false;
    std::size_t scanned = m_begin;
    for (;;) {
        const char* start = m_buffer.data();
        const void* newline = std::memchr(start + scanned, '\n', m_end - scanned);
        if (newline != nullptr) {
            const auto line_end = static_cast<std::size_t>(static_cast<const char*>(newline) - start);
            const std::string_view line(start + m_begin, line_end - m_begin);
            m_begin = line_end + 1;
            ++m_lines;
            if (!skipping && line.size() <= max_line_length) return line;
            skipping = false;
            scanned = m_begin;
            continue;
        }
        if (m_end - m_begin > max_line_length) {
            // Drop what is held of the over-long line and keep looking for
            // its end.
            skipping = true;
            m_begin = m_end;
        }
        scanned = m_end;
        const std::size_t consumed_before = m_begin;
        if (!fill()) {
            // A last line without '\n', or the rest of a skipped one.
            if (m_begin < m_end || skipping) {
                ++m_lines;
                if (!skipping && m_end - m_begin <= max_line_length) {
                    const std::string_view line(m_buffer.data() + m_begin, m_end - m_begin);
                    m_begin = m_end;
                    return line;
                }
            }
            m_begin = m_end;
            m_at_end = true;
            return std::nullopt;
        }
        // fill() moved the unconsumed bytes to the front.
        scanned -= consumed_before;
    }
}

}  // namespace zav
