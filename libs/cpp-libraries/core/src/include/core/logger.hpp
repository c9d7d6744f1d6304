#pragma once

#include "core/component_logger.hpp"

#include <zmq.hpp>

#include <atomic>
#include <mutex>
#include <string>

namespace zav::libs::core {

// The process-wide logger: the component logger of the component named at
// construction, and the owner of the outputs. Each line goes to the system log
// (identifier = module name, facility LOG_USER), which also echoes it to
// standard error unless the process runs under systemd, and a copy of every
// line, of every level, is pushed without blocking to a ZeroMQ PUSH socket.
//
// Create exactly one per process, before anything that logs, and destroy it
// last: component loggers refer to it.
class logger : public component_logger
{
public:
    // Opens the system log and logs "Starting <module name>". Throws the
    // ZeroMQ error when the context or the socket cannot be created.
    logger(const std::string& _module_name, const std::string& _component_name);
    ~logger() override;

    // Debug lines reach the system log (and standard error) only when on;
    // they always reach the socket. Off after construction.
    bool is_debug() const { return m_debug.load(); }
    void set_debug(bool _debug);

    // Connects the debug socket to a ZeroMQ endpoint; throws zmq::error_t on
    // failure, after which the logger stays usable.
    void connect(const std::string& _address);

    bool is_writing_to_socket() const { return m_writing_to_socket.load(); }
    void set_writing_to_socket(bool _writing_to_socket);

    bool is_logger_enabled() const { return m_enable_logger; }

private:
    friend class component_logger;

    // Writes one finished line: _syslog_text to the system log at _log_level
    // (and to standard error when _to_stderr), _socket_text, unless empty, to
    // the socket. Never throws.
    void emit(int _log_level, bool _to_stderr, const std::string& _syslog_text,
              const std::string& _socket_text) const;

    // The system log keeps a pointer to this buffer as its identifier.
    std::string m_module_name;
    std::atomic<bool> m_debug{false};
    std::atomic<bool> m_writing_to_socket{true};
    bool m_enable_logger = true;
    // Whether the system log was opened with the option that echoes to
    // standard error; components that print to standard error under systemd
    // are echoed by emit() instead.
    bool m_syslog_prints_to_stderr = false;
    zmq::context_t m_zmq_context;
    mutable std::mutex m_socket_mutex;
    mutable zmq::socket_t m_debug_socket;
};

}  // namespace zav::libs::core
