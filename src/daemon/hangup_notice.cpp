#include "daemon/hangup_notice.hpp"

#include <csignal>

namespace zav {

hangup_notice::hangup_notice(libs::core::events_loop& _loop, const libs::core::logger& _logger)
    : m_logger(_logger), m_signals(_loop.get_io_context(), SIGHUP)
{
    wait();
}

void hangup_notice::wait()
{
    m_signals.async_wait([this](const boost::system::error_code& _error, int) {
        // Cancelled: the object is being destroyed and must not be touched.
        if (_error) return;
        m_logger.warning(
            "SIGHUP ignored: the configuration is read at start only; restart the daemon to apply a "
            "change");
        wait();
    });
}

}  // namespace zav
