#pragma once

#include "batch/csv_line_reader.hpp"
#include "pipeline/position_record.hpp"
#include "position.hpp"

#include <string>
#include <vector>

namespace zav {

// Batch mode: post-processes a pipe-separated file of raw positions into a
// file of processed positions, piece by piece, with the pipeline's carry-over
// handed from each piece to the next. Messages go to standard error.
class csv_application
{
public:
    csv_application() = default;
    ~csv_application() = default;

    // Reads _input_positions_file in pieces of _piece_size newly read valid
    // positions (plus the positions held back from the previous piece) and
    // writes every valid input position exactly once, filtered, together with
    // the synthetic gap positions. _output_positions_file appears only when
    // complete (a device or a FIFO is written to as the run goes; see
    // output_file); without _save_input_files the input is deleted after
    // that, when it is the regular file that was read (see remove_input).
    // Returns true only after a complete run; on false the reason has been
    // written to standard error ("out of memory" when memory ran out), the
    // input is kept and no output file was created (an older file of that
    // name stays as it was).
    bool run(const std::string& _input_positions_file, const std::string& _output_positions_file,
             bool _save_input_files, int _piece_size);

private:
    // The newly read positions of the current piece.
    std::vector<position_record> m_positions;
};

}  // namespace zav
