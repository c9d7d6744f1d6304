#include "core/component_logger.hpp"

#include "core/civil_time.hpp"

#include "core/logger.hpp"

#include <syslog.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace zav::libs::core {

namespace {

// "YYYY-MM-DD hh:mm:ss.mmm " in UTC.
std::string date_prefix(const timestamp& _timestamp)
{
    const auto milliseconds = _timestamp.get_time_since_epoch().count();
    // Floor division, so that instants before the epoch still show a
    // millisecond part in [0, 999].
    auto seconds = milliseconds / 1000;
    auto rest = milliseconds % 1000;
    if (rest < 0) {
        rest += 1000;
        --seconds;
    }
    char date[40];
    const auto length = static_cast<std::size_t>(put_date_time(date, seconds) - date);
    char millis[8];
    std::snprintf(millis, sizeof millis, ".%03d ", static_cast<int>(rest));
    return std::string(date, length) + millis;
}

std::string indentation(int _depth)
{
    if (_depth <= 0) return {};
    return std::string(static_cast<std::size_t>(_depth) * 4, ' ') + "| ";
}

// Read once per process: the environment is not expected to change.
bool launched_by_systemd()
{
    static const bool result = [] {
        const char* value = std::getenv("ZAV_LAUNCHED_BY_SYSTEMD");
        return value != nullptr && std::string_view(value) == "1";
    }();
    return result;
}

}  // namespace

component_logger::component_logger(const logger& _logger, const std::string& _module_name,
                                   const std::string& _component_name)
    : m_logger(_logger),
      m_module_name(_module_name),
      m_zmq_prefix("&" + _module_name + ":" + _component_name + " ")
{
}

component_logger::ptr component_logger::component(const std::string& _name) const
{
    return std::make_unique<component_logger>(m_logger, m_module_name, _name);
}

component_logger::formatter component_logger::debug(std::string_view _pattern) const
{
    return formatter(*this, LOG_DEBUG, _pattern);
}

component_logger::formatter component_logger::info(std::string_view _pattern) const
{
    return formatter(*this, LOG_INFO, _pattern);
}

component_logger::formatter component_logger::warning(std::string_view _pattern) const
{
    return formatter(*this, LOG_WARNING, _pattern);
}

component_logger::formatter component_logger::error(std::string_view _pattern) const
{
    return formatter(*this, LOG_ERR, _pattern);
}

component_logger::indent_guard component_logger::indent() const
{
    ++m_indent;
    return make_scope_guard([this] { --m_indent; });
}

component_logger::indent_guard component_logger::enter_function(const source_location& _location) const
{
    debug("%1%") % _location.function();
    return indent();
}

component_logger::indent_guard component_logger::enter_function_short(const source_location& _location,
                                                                      std::string_view _name) const
{
    debug("%1%: %2%") % _location.short_function() % _name;
    return indent();
}

component_logger::indent_guard component_logger::enter_scope(const source_location& _location) const
{
    debug("%1%:%2%") % _location.short_file() % _location.line();
    return indent();
}

component_logger::indent_guard component_logger::enter_scope(const source_location& _location,
                                                             std::string_view _name) const
{
    debug("%1%:%2% (%3%)") % _location.short_file() % _location.line() % _name;
    return indent();
}

component_logger::indent_guard component_logger::enter_scope(std::string_view _name) const
{
    debug("%1%") % _name;
    return indent();
}

void component_logger::log_exception() const
{
    if (!m_logger.is_logger_enabled()) return;
    try {
        error("%1%") % exception_to_string();
    } catch (...) {
        // Logging never throws; a line that cannot be built is lost.
    }
}

void component_logger::log_exception(const source_location& _where) const
{
    if (!m_logger.is_logger_enabled()) return;
    m_logger.error("Caught exeption").location(_where);
    log_exception();
}

void component_logger::log_exception(const located_exception& _e) const
{
    if (!m_logger.is_logger_enabled()) return;
    try {
        error("%1%") % exception_to_string(_e);
    } catch (...) {
    }
}

void component_logger::log_error(const boost::system::error_code& _ec, const source_location& _where) const
{
    if (!m_logger.is_logger_enabled()) return;
    try {
        error("%1%:%2%: %3%") % _where.short_file() % _where.line() % _ec.message();
    } catch (...) {
    }
}

void component_logger::set_print_to_stderr(bool _print_to_stderr) { m_print_to_stderr = _print_to_stderr; }

bool component_logger::should_print_to_stderr() const
{
    return !launched_by_systemd() || m_print_to_stderr.load();
}

void component_logger::write_line(int _log_level, const std::optional<timestamp>& _timestamp,
                                  const std::string& _body) const
{
    const bool debug_on = m_logger.is_debug();
    const bool to_socket = m_logger.is_writing_to_socket();
    // A debug line with debug off would only be filtered out of the system log.
    if (_log_level == LOG_DEBUG && !debug_on && !to_socket) return;

    const bool to_stderr = should_print_to_stderr();
    const std::string date = date_prefix(_timestamp ? *_timestamp : timestamp::current_time());
    const std::string indent = indentation(m_indent.load());

    std::string syslog_text;
    syslog_text.reserve(date.size() + indent.size() + _body.size());
    if (to_stderr) syslog_text += date;
    if (debug_on) syslog_text += indent;
    syslog_text += _body;

    std::string socket_text;
    if (to_socket) socket_text = m_zmq_prefix + date + indent + _body;

    m_logger.emit(_log_level, to_stderr, syslog_text, socket_text);
}

}  // namespace zav::libs::core
