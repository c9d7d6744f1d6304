#include "csv_application.hpp"

#include "batch/batch_report.hpp"
#include "batch/csv_position_parser.hpp"
#include "batch/csv_position_writer.hpp"
#include "batch/failure_text.hpp"
#include "batch/input_removal.hpp"
#include "batch/piece_reader.hpp"
#include "core/output_file.hpp"
#include "pipeline/constants.hpp"
#include "pipeline/stream_smoother.hpp"

#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <chrono>
#include <iostream>
#include <iterator>
#include <new>
#include <stdexcept>

namespace zav {

namespace {

using pipeline::flush_advance;

// Refuses to run when both names reach the same regular file (the same path,
// another path, a symbolic or a hard link): the output would replace the
// input and the final deletion would remove the output. A terminal or a pipe
// may well be both (-i /dev/stdin -o /dev/stdout).
void refuse_same_file(const std::string& _input, const std::string& _output)
{
    struct stat input_info
    {
    };
    struct stat output_info
    {
    };
    const bool same = ::stat(_input.c_str(), &input_info) == 0 &&
                      ::stat(_output.c_str(), &output_info) == 0 && input_info.st_dev == output_info.st_dev &&
                      input_info.st_ino == output_info.st_ino && S_ISREG(input_info.st_mode);
    if (same || (_input == _output && !S_ISCHR(input_info.st_mode) && !S_ISFIFO(input_info.st_mode)))
        throw std::runtime_error("input file \"" + _input + "\" and output file \"" + _output +
                                 "\" are the same file");
}

// Batch mode's one channel for what goes wrong: standard error, one prefix.
void report(const std::string& _message) { std::cerr << "trackmend: " << _message << "\n"; }

// Deletes the input after a complete run where that removes only the data
// just processed; says so where the input is kept.
void remove_input_file(const std::string& _path, const csv_line_reader::identity& _read)
{
    switch (remove_input(_path, _read)) {
        case input_removal::removed:
            break;
        case input_removal::kept_not_regular:
            report("input file \"" + _path +
                   "\" is kept: only a regular file outside /dev and /proc, named without a symbolic "
                   "link, is deleted");
            break;
        case input_removal::kept_replaced:
            report("input file \"" + _path +
                   "\" is kept: the name no longer stands for the file that was read");
            break;
    }
}

// The newest of the held-back and the newly read positions (the first of
// them, as a search from the held-back ones on finds it), advanced far enough
// that a piece ending with it processes everything else.
position_record make_flush_record(const stream_smoother& _smoother, const std::vector<position_record>& _read)
{
    const position_record* newest = _smoother.held_back_count() > 0 ? &_smoother.newest_held_back() : nullptr;
    for (const position_record& r : _read)
        if (newest == nullptr || newest->ts < r.ts) newest = &r;
    position_record flush = *newest;
    flush.ts += flush_advance.count();
    return flush;
}

}  // namespace

bool csv_application::run(const std::string& _input_positions_file, const std::string& _output_positions_file,
                          bool _save_input_files, int _piece_size)
{
    if (_piece_size < 1) {
        report("the piece size must be at least 1, not " + std::to_string(_piece_size));
        return false;
    }
    try {
        refuse_same_file(_input_positions_file, _output_positions_file);
        // The input is opened first: when it cannot be read, no output is
        // created at all.
        csv_line_reader infile(_input_positions_file);
        // Other runs may write the same name at the same time: only what a
        // run that has ended left behind goes.
        output_file::remove_leftovers(_output_positions_file, output_file::leftovers::of_ended_processes);
        output_file outfile(_output_positions_file);
        csv_position_writer writer(outfile);
        batch_report progress(std::cerr, ::isatty(STDERR_FILENO) == 1);

        // The held-back positions and the carry-over stay in the smoother from
        // piece to piece; each piece brings only newly read positions, in a
        // buffer that goes round from piece to piece.
        stream_smoother smoother;
        std::uint64_t written = 0;
        bool write_failed = false;
        const auto write = [&](const position_record& _r) {
            if (write_failed) return;
            try {
                writer.write(_r, smoother.strings());
                ++written;
            } catch (const std::bad_alloc&) {
                throw;
            } catch (const std::exception& e) {
                report(std::string("Error writing file (") + e.what() + ")");
                write_failed = true;
            }
        };
        std::uint64_t parsed = 0;
        std::uint64_t lines = 0;
        std::uint64_t other_kinds = 0;
        bool flushed = false;
        // Reading and parsing run a block of pieces ahead on a thread of
        // their own; the pieces are those of reading here.
        piece_reader pieces(infile, static_cast<std::size_t>(_piece_size));
        while (!flushed) {
            piece_reader::block& block = pieces.next();
            if (!block.error.empty()) {
                report(block.error);
                return false;
            }
            smoother.strings().adopt(block.new_texts);
            std::size_t begin = 0;
            for (const piece_reader::piece& piece : block.pieces) {
                const bool whole_block = block.pieces.size() == 1;
                if (whole_block) {
                    // The block's buffer is used in place and given back
                    // below, so that only the two blocks' buffers are large.
                    std::swap(m_positions, block.records);
                } else {
                    m_positions.assign(block.records.begin() + static_cast<std::ptrdiff_t>(begin),
                                       block.records.begin() + static_cast<std::ptrdiff_t>(piece.end));
                }
                parsed += piece.end - begin;
                lines = piece.lines;
                other_kinds = piece.other_kinds;
                begin = piece.end;
                if (piece.at_end) {
                    // The flush runs once, after the last line was read; the
                    // piece it ends holds back only the flush position.
                    flushed = true;
                    if (m_positions.empty() && smoother.held_back_count() == 0) break;
                    m_positions.push_back(make_flush_record(smoother, m_positions));
                }
                m_positions = smoother.push_records(std::move(m_positions), write);
                if (whole_block) std::swap(m_positions, block.records);
                if (write_failed) return false;
                progress.progress(piece.consumed_bytes, infile.file_size(), piece.lines, written);
            }
        }

        try {
            writer.flush();
            // Synced when the input, the only other copy, is deleted next.
            outfile.commit(!_save_input_files);
        } catch (const std::exception& e) {
            report(std::string("Error writing file (") + e.what() + ")");
            return false;
        }
        progress.summary(lines, lines - parsed - other_kinds, other_kinds, written,
                         smoother.synthetic_count());
        if (!_save_input_files) remove_input_file(_input_positions_file, infile.opened());
    } catch (const std::exception& e) {
        report(failure_text(e));
        return false;
    }
    return true;
}

}  // namespace zav
