#include "csv_application.hpp"

#include "batch/csv_position_parser.hpp"
#include "core/output_file.hpp"
#include "positions_post_processor.hpp"

#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <iostream>
#include <iterator>
#include <stdexcept>

namespace zav {

namespace {

// Far enough ahead of every real position that a piece ending with it
// processes all of them, while it is held back itself and never written.
constexpr std::chrono::milliseconds flush_advance{1000000};

constexpr std::size_t max_reserved = 1000000;

// Refuses to run when both names reach the same file (the same path, another
// path, a symbolic or a hard link): the output would replace the input and
// the final deletion would remove the output.
void refuse_same_file(const std::string& _input, const std::string& _output)
{
    struct stat input_info
    {
    };
    struct stat output_info
    {
    };
    const bool same =
        _input == _output ||
        (::stat(_input.c_str(), &input_info) == 0 && ::stat(_output.c_str(), &output_info) == 0 &&
         input_info.st_dev == output_info.st_dev && input_info.st_ino == output_info.st_ino);
    if (same)
        throw std::runtime_error("input file \"" + _input + "\" and output file \"" + _output +
                                 "\" are the same file");
}

// Every piece allocates and frees vectors of the same few tens of MiB. By
// default glibc serves blocks that large with mmap and returns them, or trims
// the heap, so every piece pays for fresh zeroed pages; kept in the heap, the
// freed blocks serve the next piece. The heap then stays at what the largest
// piece needs, which depends on the piece size and not on the file.
void keep_freed_memory()
{
#if defined(__GLIBC__)
    // 32 MiB is the largest mmap threshold glibc accepts; a piece vector of
    // the default size (about 30 MiB) stays below it.
    ::mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
    ::mallopt(M_TRIM_THRESHOLD, 1024 * 1024 * 1024);
#endif
}

position make_flush_position(const positions_vector& _positions)
{
    // The newest, not the last: newly read positions need not be in time order.
    position flush =
        *std::max_element(_positions.begin(), _positions.end(), positions_post_processor::timestamp_less);
    flush.ts += flush_advance;
    return flush;
}

}  // namespace

bool csv_application::run(const std::string& _input_positions_file, const std::string& _output_positions_file,
                          bool _save_input_files, int _piece_size)
{
    if (_piece_size < 1) {
        std::cerr << "trackmend: the piece size must be at least 1, not " << _piece_size << "\n";
        return false;
    }
    keep_freed_memory();
    try {
        refuse_same_file(_input_positions_file, _output_positions_file);
        // The input is opened first: when it cannot be read, no output is
        // created at all.
        csv_line_reader infile(_input_positions_file);
        output_file outfile(_output_positions_file);
        csv_position_writer writer(outfile);

        positions_post_processor::additional_data data;
        m_positions.clear();
        bool flushed = false;
        for (;;) {
            // The held-back positions of the previous piece come first; the
            // pipeline needs them again to process them. They go into the
            // buffer of the piece before, whose capacity is kept: memory stays
            // bounded by the largest piece, and no piece pays for a new one.
            // When it must grow, it grows with room to spare, since the
            // held-back part varies a little from piece to piece and each
            // growth leaves the old buffer as a hole in the heap.
            positions_vector& held_back = data.not_processed_positions;
            const std::size_t needed =
                held_back.size() + std::min<std::size_t>(_piece_size, max_reserved) + 1;
            if (m_positions.capacity() < needed) m_positions.reserve(needed + needed / 8);
            m_positions.insert(m_positions.end(), std::make_move_iterator(held_back.begin()),
                               std::make_move_iterator(held_back.end()));
            held_back.clear();
            if (!get_positions_from_file(_piece_size, infile)) return false;
            if (infile.at_end()) {
                // The flush runs once, after the last line was read; the piece
                // it ends holds back only the flush position.
                if (flushed || m_positions.empty()) break;
                m_positions.push_back(make_flush_position(m_positions));
                flushed = true;
            }
            auto result = positions_post_processor::process_positions(data, std::move(m_positions));
            m_filtered_positions = std::move(result.processed_positions);
            data = std::move(result.additional_data_);
            if (!append_filtered_position_to_file(writer)) return false;
            // The written positions' buffer, once the piece's own, becomes the
            // next piece's.
            m_filtered_positions.clear();
            m_positions = std::move(m_filtered_positions);
            m_filtered_positions.clear();
        }

        try {
            writer.flush();
            // Synced when the input, the only other copy, is deleted next.
            outfile.commit(!_save_input_files);
        } catch (const std::exception& e) {
            std::cerr << "Error writing file (" << e.what() << ")\n";
            return false;
        }
    } catch (const std::exception& e) {
        std::cerr << "trackmend: " << e.what() << "\n";
        return false;
    }

    if (!_save_input_files && ::unlink(_input_positions_file.c_str()) != 0) {
        std::cerr << "trackmend: the output is complete, but input file \"" << _input_positions_file
                  << "\" cannot be deleted: " << std::strerror(errno) << "\n";
        return false;
    }
    return true;
}

bool csv_application::get_positions_from_file(int _amount, csv_line_reader& _input_positions_file)
{
    try {
        for (int added = 0; added < _amount;) {
            const auto line = _input_positions_file.next_line();
            if (!line) break;
            if (append_csv_position(*line, m_positions)) ++added;
        }
        return true;
    } catch (const std::exception& e) {
        std::cerr << "trackmend: " << e.what() << "\n";
        return false;
    }
}

bool csv_application::append_filtered_position_to_file(csv_position_writer& _output_positions_file) const
{
    try {
        for (const auto& p : m_filtered_positions) _output_positions_file.write(p);
        return true;
    } catch (const std::exception& e) {
        std::cerr << "Error writing file (" << e.what() << ")\n";
        return false;
    }
}

timestamp csv_application::make_timestamp(const std::string& _json_string) const
{
    const auto ts = parse_csv_timestamp(_json_string);
    if (!ts) throw std::logic_error("timestamp: \"" + _json_string + "\" is invalid!");
    return *ts;
}

}  // namespace zav
