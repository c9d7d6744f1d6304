#include "daemon/service_notifier_impl.hpp"

#include <systemd/sd-daemon.h>

#include <cstdint>
#include <cstdlib>

namespace zav {

service_notifier::ptr create_service_notifier()
{
    const char* socket = std::getenv("NOTIFY_SOCKET");
    if (socket == nullptr || *socket == '\0') return std::make_unique<no_service_notifier>();
    return std::make_unique<service_notifier_impl>();
}

service_notifier_impl::service_notifier_impl()
{
    std::uint64_t usec = 0;
    if (sd_watchdog_enabled(0, &usec) > 0) m_watchdog_interval = std::chrono::microseconds(usec);
}

// The results of sd_notify are ignored on purpose: see service_notifier.
void service_notifier_impl::ready() { sd_notify(0, "READY=1"); }

void service_notifier_impl::status(const std::string& _text)
{
    // A line break would end the assignment early.
    std::string line = _text.substr(0, _text.find('\n'));
    sd_notify(0, ("STATUS=" + line).c_str());
}

void service_notifier_impl::watchdog() { sd_notify(0, "WATCHDOG=1"); }

void service_notifier_impl::stopping() { sd_notify(0, "STOPPING=1"); }

}  // namespace zav
