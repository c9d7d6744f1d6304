#pragma once

#include "core/events_loop.hpp"
#include "core/logger.hpp"

#include <boost/asio/signal_set.hpp>

namespace zav {

// Catches SIGHUP, which would otherwise end the daemon at once (without
// releasing its writer lease, and with a status the service manager counts
// as clean), and logs each one as a warning: the configuration is read at
// start only, so a change needs a restart. The line is written when the
// loop runs its handlers. Must be destroyed before _loop; _logger must
// outlive it.
class hangup_notice
{
public:
    hangup_notice(libs::core::events_loop& _loop, const libs::core::logger& _logger);
    hangup_notice(const hangup_notice&) = delete;
    hangup_notice& operator=(const hangup_notice&) = delete;

private:
    void wait();

    const libs::core::logger& m_logger;
    boost::asio::signal_set m_signals;
};

}  // namespace zav
