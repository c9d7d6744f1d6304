#include "batch/batch_report.hpp"

#include <boost/format.hpp>

namespace zav {

namespace {

constexpr std::chrono::milliseconds redraw_interval{500};

// Back to the start of the line and clear it.
constexpr const char* clear_line = "\r\033[K";

}  // namespace

batch_report::batch_report(std::ostream& _out, bool _terminal) : m_out(_out), m_terminal(_terminal) {}

double batch_report::seconds() const { return std::chrono::duration<double>(clock::now() - m_start).count(); }

void batch_report::progress(std::uint64_t _consumed_bytes, std::uint64_t _total_bytes, std::uint64_t _lines,
                            std::uint64_t _written)
{
    if (!m_terminal) return;
    const auto now = clock::now();
    if (now - m_last_drawn < redraw_interval) return;
    m_last_drawn = now;
    const double percent =
        _total_bytes == 0 ? 100.0
                          : 100.0 * static_cast<double>(_consumed_bytes) / static_cast<double>(_total_bytes);
    const double elapsed = seconds();
    m_out << clear_line
          << boost::format("trackmend: %.0f%% read, %.2f M lines/s, %d positions written") % percent %
                 (elapsed > 0 ? static_cast<double>(_lines) / elapsed / 1e6 : 0.0) % _written
          << std::flush;
    m_drawn = true;
}

void batch_report::summary(std::uint64_t _lines, std::uint64_t _malformed, std::uint64_t _other_kinds,
                           std::uint64_t _written, std::uint64_t _synthetic)
{
    if (m_drawn) m_out << clear_line;
    m_out << boost::format(
                 "trackmend: %d lines read, %d skipped as malformed, %d skipped as not UWB, %d positions "
                 "written (%d synthetic) in %.2f s\n") %
                 _lines % _malformed % _other_kinds % _written % _synthetic % seconds()
          << std::flush;
}

}  // namespace zav
