#pragma once

#include "core/exception.hpp"
#include "core/scope_guard.hpp"
#include "core/source_location.hpp"
#include "core/timestamp.hpp"

#include <boost/format.hpp>
#include <boost/system/error_code.hpp>

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace zav::libs::core {

class logger;

// The logging face of one component of the program. Every line goes through
// the process-wide `logger` it was made from, which must outlive it; the
// component contributes its own indentation depth and socket prefix.
//
// One statement is one expression, written when the expression ends:
//
//     m_logger.info("Connected to %1%:%2%") % host % port;
//     m_logger.debug("No new positions").short_function(CORE_SOURCE_LOCATION);
//     auto guard = m_logger.enter_function(CORE_SOURCE_LOCATION);  // trace + indent
//     if (!m_logger.execute([&] { connect(); })) { ... }           // failure logged
//     catch (...) { m_logger.log_exception(); }
//
// Every operation may be called from any thread; none of them throws because
// of a logging failure.
class component_logger
{
public:
    using ptr = std::unique_ptr<component_logger>;
    // Restores the indentation depth when destroyed.
    using indent_guard = scope_guard;

    // One log statement: a Boost.Format pattern, the arguments fed with `%` and
    // optional modifiers. The line is written exactly once, by the destructor
    // of the statement's formatter; a moved-from formatter writes nothing.
    // Arguments that do not match the pattern never throw: missing ones show
    // as empty, surplus ones are dropped.
    class formatter
    {
    public:
        formatter(const component_logger& _logger, int _log_level, std::string_view _pattern);
        formatter(formatter&& _other) noexcept;
        formatter(const formatter&) = delete;
        formatter& operator=(const formatter&) = delete;
        formatter& operator=(formatter&&) = delete;
        ~formatter();

        template <typename T>
        formatter& operator%(const T& _value)
        {
            if (m_active) m_format % _value;
            return *this;
        }

        // The line starts with "<short file>:<line> ".
        formatter& location(const source_location& _location);
        // The message is preceded by the full function signature and ": ".
        formatter& function(const source_location& _location);
        // The message is preceded by the short function name and ": ".
        formatter& short_function(const source_location& _location);
        // The date prefix shows _timestamp instead of the current time.
        formatter& date_time(const timestamp& _timestamp);

    private:
        boost::format m_format;
        int m_log_level;
        const component_logger& m_logger;
        std::optional<source_location> m_source_location;
        std::string_view m_function;
        std::optional<timestamp> m_timestamp;
        bool m_active = true;
    };

    component_logger(const logger& _logger, const std::string& _module_name,
                     const std::string& _component_name);
    virtual ~component_logger() = default;

    component_logger(const component_logger&) = delete;
    component_logger& operator=(const component_logger&) = delete;

    // A new component of the same logger, named _name.
    ptr component(const std::string& _name) const;

    // Levels are the syslog severities 7, 6, 4 and 3. _pattern must be
    // NUL-terminated (a string literal) and in Boost.Format syntax.
    formatter debug(std::string_view _pattern) const;
    formatter info(std::string_view _pattern) const;
    formatter warning(std::string_view _pattern) const;
    formatter error(std::string_view _pattern) const;

    // Each logs one debug line at the current depth and indents everything
    // this component logs afterwards by one level until the guard is gone.
    // enter_function: the full function signature.
    [[nodiscard]] indent_guard enter_function(const source_location& _location) const;
    // "<short function>: <name>".
    [[nodiscard]] indent_guard enter_function_short(const source_location& _location,
                                                    std::string_view _name) const;
    // "<short file>:<line>".
    [[nodiscard]] indent_guard enter_scope(const source_location& _location) const;
    // "<short file>:<line> (<name>)".
    [[nodiscard]] indent_guard enter_scope(const source_location& _location, std::string_view _name) const;
    // "<name>".
    [[nodiscard]] indent_guard enter_scope(std::string_view _name) const;

    // Must be called inside a catch handler: logs the exception being handled
    // at error level (exception_to_string()).
    void log_exception() const;
    // Inside a catch handler: "Caught exeption" located at _where, through the
    // process-wide logger, then the exception as log_exception() does.
    void log_exception(const source_location& _where) const;
    void log_exception(const located_exception& _e) const;
    // "<short file>:<line>: <error message>" at error level.
    void log_error(const boost::system::error_code& _ec, const source_location& _where) const;

    // Runs _f; an exception escaping it is logged with log_exception() and
    // swallowed. Returns whether _f completed normally.
    template <typename F>
    bool execute(F&& _f) const
    {
        try {
            std::forward<F>(_f)();
            return true;
        } catch (...) {
            log_exception();
            return false;
        }
    }

    // Under systemd (ZAV_LAUNCHED_BY_SYSTEMD exactly "1") lines of this
    // component still go to standard error, with a date, when set.
    void set_print_to_stderr(bool _print_to_stderr);
    // Whether lines of this component carry the date prefix and the system
    // log echoes to standard error. The environment is read once per process.
    bool should_print_to_stderr() const;

    int get_indent() const { return m_indent.load(); }

private:
    void write_line(int _log_level, const std::optional<timestamp>& _timestamp,
                    const std::string& _body) const;
    indent_guard indent() const;

    mutable std::atomic<int> m_indent{0};
    const logger& m_logger;
    std::string m_module_name;
    std::string m_zmq_prefix;
    std::atomic<bool> m_print_to_stderr{false};
};

}  // namespace zav::libs::core
