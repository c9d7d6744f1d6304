#include "store/failure_series.hpp"

#include <utility>

namespace zav {

failure_series::failure_series(std::chrono::milliseconds _reminder, clocks _clocks)
    : m_reminder(_reminder), m_clocks(std::move(_clocks))
{
}

void failure_series::failed(const libs::core::component_logger& _logger, const std::string& _error)
{
    const auto now = m_clocks.steady();
    if (m_attempts++ == 0) {
        m_since = m_clocks.wall();
        m_last_reminder = now;
        _logger.error("%1%") % _error;
    } else if (now - m_last_reminder >= m_reminder) {
        m_last_reminder = now;
        _logger.error("Still failing: %1% failed attempts since %2%, the last one: %3%") % m_attempts %
            m_since.to_iso_8601_string(true) % first_line(_error);
    }
}

void failure_series::succeeded(const libs::core::component_logger& _logger)
{
    if (m_attempts > 0)
        _logger.info("Working again after %1% failed attempts since %2%") % m_attempts %
            m_since.to_iso_8601_string(true);
    m_attempts = 0;
}

std::string first_line(const std::string& _text) { return _text.substr(0, _text.find('\n')); }

}  // namespace zav
