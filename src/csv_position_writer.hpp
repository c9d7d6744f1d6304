#pragma once

#include "output_file.hpp"
#include "position.hpp"

#include <string>

namespace zav {

// Writes processed positions as fixed-width, pipe-separated lines:
//   uid(22)|mac(12)|YYYY-MM-DD hh:mm:ss.mmm000|x(7)|y(7)|z(7)|area(22)|project(22)|inactive(7)
// every field padded on the left with blanks to at least its width (longer
// texts are not cut), "\N" for an absent value. Lines collect in a large
// buffer that goes to the file in blocks.
class csv_position_writer {
public:
    // _file must outlive the writer.
    explicit csv_position_writer(output_file& _file);

    void write(const position& _position);
    // Hands everything buffered to the file.
    void flush();

    // One line as write() renders it, with its '\n'.
    static std::string format(const position& _position);

private:
    output_file& m_file;
    std::string m_buffer;
};

}  // namespace zav
