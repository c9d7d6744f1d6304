#pragma once

#include "core/output_file.hpp"
#include "pipeline/position_record.hpp"
#include "position.hpp"

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace zav {

using libs::core::output_file;

// The fields of one line, taken from a position or from a record.
struct csv_line_fields;

// Writes processed positions as fixed-width, pipe-separated lines:
//   uid(22)|mac(12)|YYYY-MM-DD hh:mm:ss.mmm000|x(7)|y(7)|z(7)|area(22)|project(22)|inactive(7)
// every field padded on the left with blanks to at least its width (longer
// texts are not cut), "\N" for an absent value. Lines collect in a large
// buffer that goes to the file in blocks.
class csv_position_writer
{
public:
    // _file must outlive the writer.
    explicit csv_position_writer(output_file& _file);

    void write(const position& _position);
    // The same line for the position _record stands for, its texts in _strings.
    void write(const position_record& _record, const record_strings& _strings);
    // Hands everything buffered to the file.
    void flush();

    // One line as write() renders it, with its '\n'.
    static std::string format(const position& _position);

    // Renders "YYYY-MM-DD hh:mm:ss" of whole seconds since the epoch as the
    // timestamp's own text form does. The positions of one second are many
    // and come together, so the text of the last second is kept and only the
    // milliseconds change from line to line.
    class second_text_cache
    {
    public:
        // The text of _seconds, valid until the next call.
        std::string_view text(long long _seconds);

    private:
        long long m_seconds = 0;
        bool m_valid = false;
        std::size_t m_length = 0;
        char m_text[48] = {};
    };

private:
    void write(const csv_line_fields& _fields);

    output_file& m_file;
    std::unique_ptr<char[]> m_buffer;
    std::size_t m_capacity = 0;
    std::size_t m_used = 0;
    second_text_cache m_second_text;
};

}  // namespace zav
