#include "core/logger.hpp"

#include <syslog.h>
#include <unistd.h>

namespace zav::libs::core {

namespace {

constexpr int linger_ms = 5000;

}  // namespace

logger::logger(const std::string& _module_name, const std::string& _component_name)
    : component_logger(*this, _module_name, _component_name),
      m_module_name(_module_name),
      m_zmq_context(),
      m_debug_socket(m_zmq_context, zmq::socket_type::push)
{
    m_debug_socket.set(zmq::sockopt::linger, linger_ms);
    m_syslog_prints_to_stderr = should_print_to_stderr();
    openlog(m_module_name.c_str(), m_syslog_prints_to_stderr ? LOG_PERROR : 0, LOG_USER);
    set_debug(m_debug.load());
    info("Starting %1%") % m_module_name;
}

logger::~logger()
{
    closelog();
    std::lock_guard lock(m_socket_mutex);
    m_debug_socket.close();
    m_zmq_context.close();
}

void logger::set_debug(bool _debug)
{
    setlogmask(_debug ? LOG_UPTO(LOG_DEBUG) : LOG_UPTO(LOG_INFO));
    m_debug = _debug;
}

void logger::connect(const std::string& _address)
{
    {
        std::lock_guard lock(m_socket_mutex);
        m_debug_socket.connect(_address);
    }
    debug("Connected to socket");
}

void logger::set_writing_to_socket(bool _writing_to_socket) { m_writing_to_socket = _writing_to_socket; }

void logger::emit(int _log_level, bool _to_stderr, const std::string& _syslog_text,
                  const std::string& _socket_text) const
{
    syslog(_log_level, "%s", _syslog_text.c_str());

    if (_to_stderr && !m_syslog_prints_to_stderr && (_log_level != LOG_DEBUG || m_debug.load())) {
        // The same text the system log would echo, in one write so that lines
        // of concurrent statements do not interleave.
        const std::string line = m_module_name + ": " + _syslog_text + "\n";
        [[maybe_unused]] const auto written = ::write(STDERR_FILENO, line.data(), line.size());
    }

    if (_socket_text.empty() || !m_writing_to_socket.load()) return;
    try {
        std::lock_guard lock(m_socket_mutex);
        // Without a peer, or with the peer's queue full, the copy is dropped:
        // a log statement must never block. Other send failures are dropped
        // too; the system log already has the line.
        (void)m_debug_socket.send(zmq::buffer(_socket_text), zmq::send_flags::dontwait);
    } catch (...) {
    }
}

}  // namespace zav::libs::core
