#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zav {

// Reads a text file line by line through one large buffer. Lines end at '\n';
// a last line without one is still a line. Failures throw std::runtime_error
// naming the file and the system's reason.
class csv_line_reader
{
public:
    // Opens _path for reading; throws when it cannot be opened or is a
    // directory.
    explicit csv_line_reader(const std::string& _path);
    ~csv_line_reader();

    csv_line_reader(const csv_line_reader&) = delete;
    csv_line_reader& operator=(const csv_line_reader&) = delete;

    // The next line without its '\n', or empty at the end of the file. The
    // view stays valid until the next call. Lines longer than
    // max_line_length are skipped whole (and counted in lines(), so that
    // they show as malformed): no line of this format is that long, and
    // holding one would let a file without line ends fill memory.
    std::optional<std::string_view> next_line();

    // The bytes read after the last line returned, the next line's first:
    // a look ahead, which may end within that line. Valid until the next
    // call of next_line().
    std::string_view unread() const { return {m_buffer.data() + m_begin, m_end - m_begin}; }

    // True once next_line() has reported the end of the file.
    bool at_end() const { return m_at_end; }

    // The size of the file when it was opened, and how many of its bytes the
    // lines returned so far took, for a progress report.
    std::uint64_t file_size() const { return m_file_size; }
    std::uint64_t consumed() const { return m_buffer_offset + m_begin; }
    // Lines read so far: those returned and the over-long ones skipped.
    std::uint64_t lines() const { return m_lines; }

    // The file as it was opened, for telling whether a name still stands
    // for it.
    struct identity
    {
        std::uint64_t device;
        std::uint64_t inode;
        bool regular;
    };
    const identity& opened() const { return m_opened; }

    static constexpr std::size_t max_line_length = 16 * 1024 * 1024;

private:
    // Reads more bytes behind the unconsumed rest; false at the end of the file.
    bool fill();
    [[noreturn]] void fail(int _errno) const;

    std::string m_path;
    int m_fd = -1;
    std::vector<char> m_buffer;
    std::size_t m_begin = 0;  // first unconsumed byte
    std::size_t m_end = 0;    // one past the last byte read
    bool m_eof = false;
    bool m_at_end = false;
    std::uint64_t m_file_size = 0;
    std::uint64_t m_buffer_offset = 0;  // file offset of m_buffer[0]
    std::uint64_t m_lines = 0;
    identity m_opened{};
};

}  // namespace zav
