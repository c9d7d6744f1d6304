#include "core/component_logger.hpp"

#include <string>

namespace zav::libs::core {

component_logger::formatter::formatter(const component_logger& _logger, int _log_level,
                                       std::string_view _pattern)
    : m_log_level(_log_level), m_logger(_logger)
{
    // A log statement must never throw: a malformed pattern or a wrong number
    // of arguments still yields a line, with missing arguments left empty.
    try {
        m_format.exceptions(boost::io::no_error_bits);
        m_format.parse(std::string(_pattern));
    } catch (...) {
        m_active = false;
    }
}

component_logger::formatter::formatter(formatter&& _other) noexcept
    : m_format(_other.m_format),
      m_log_level(_other.m_log_level),
      m_logger(_other.m_logger),
      m_source_location(_other.m_source_location),
      m_function(_other.m_function),
      m_timestamp(_other.m_timestamp),
      m_active(_other.m_active)
{
    _other.m_active = false;
}

component_logger::formatter::~formatter()
{
    if (!m_active) return;
    try {
        std::string body;
        if (m_source_location) {
            body += m_source_location->short_file();
            body += ':';
            body += std::to_string(m_source_location->line());
            body += ' ';
        }
        if (!m_function.empty()) {
            body += m_function;
            body += ": ";
        }
        body += m_format.str();
        m_logger.write_line(m_log_level, m_timestamp, body);
    } catch (...) {
        // Out of memory while building the line: the line is lost, the
        // program goes on.
    }
}

component_logger::formatter& component_logger::formatter::location(const source_location& _location)
{
    m_source_location = _location;
    return *this;
}

component_logger::formatter& component_logger::formatter::function(const source_location& _location)
{
    m_function = _location.function();
    return *this;
}

component_logger::formatter& component_logger::formatter::short_function(const source_location& _location)
{
    m_function = _location.short_function();
    return *this;
}

component_logger::formatter& component_logger::formatter::date_time(const timestamp& _timestamp)
{
    m_timestamp = _timestamp;
    return *this;
}

}  // namespace zav::libs::core
