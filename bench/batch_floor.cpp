// The floor under batch mode: reads, parses and writes every line of an input
// file with batch mode's own reader, parser and writer, without any smoothing.
//   batch_floor INPUT OUTPUT
#include "batch/csv_line_reader.hpp"
#include "batch/csv_position_parser.hpp"
#include "batch/csv_position_writer.hpp"

#include <iostream>
#include <vector>

int main(int _argc, char** _argv)
{
    if (_argc != 3) {
        std::cerr << "usage: batch_floor INPUT OUTPUT\n";
        return 2;
    }
    try {
        zav::csv_line_reader input(_argv[1]);
        zav::output_file file(_argv[2]);
        zav::csv_position_writer writer(file);
        // Records with interned texts, as batch mode parses and writes them.
        zav::record_strings strings;
        std::vector<zav::position_record> piece;
        // Pieces of the default size, so that the floor pays for the same
        // buffers batch mode does.
        constexpr std::size_t piece_size = 100000;
        while (!input.at_end()) {
            piece.clear();
            while (piece.size() < piece_size) {
                const auto line = input.next_line();
                if (!line) break;
                zav::append_csv_record(*line, strings, piece);
            }
            for (const auto& r : piece) writer.write(r, strings);
        }
        writer.flush();
        file.commit(false);
    } catch (const std::exception& e) {
        std::cerr << "batch_floor: " << e.what() << "\n";
        return 1;
    }
}
