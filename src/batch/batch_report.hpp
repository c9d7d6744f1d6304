#pragma once

#include <chrono>
#include <cstdint>
#include <ostream>

namespace zav {

// What batch mode tells about a run on standard error: a progress line, redrawn
// in place, while the run lasts (only on a terminal, where a person watches
// it), and one summary line at the end (always, so that logs of scripted runs
// show what happened).
class batch_report
{
public:
    // _out must outlive the report; _terminal enables the progress line.
    batch_report(std::ostream& _out, bool _terminal);

    // Redraws the progress line when the last drawing is older than half a
    // second: the share of _total_bytes consumed, lines per second, positions
    // written so far. Cheap to call often.
    void progress(std::uint64_t _consumed_bytes, std::uint64_t _total_bytes, std::uint64_t _lines,
                  std::uint64_t _written);

    // Removes the progress line and writes "trackmend: L lines read, M
    // skipped as malformed, K skipped as not UWB, W positions written (S
    // synthetic) in T s".
    void summary(std::uint64_t _lines, std::uint64_t _malformed, std::uint64_t _other_kinds,
                 std::uint64_t _written, std::uint64_t _synthetic);

private:
    using clock = std::chrono::steady_clock;

    double seconds() const;

    std::ostream& m_out;
    bool m_terminal;
    bool m_drawn = false;
    clock::time_point m_start = clock::now();
    clock::time_point m_last_drawn = m_start;
};

}  // namespace zav
