#pragma once

#include <chrono>
#include <memory>
#include <string>

namespace zav {

// Tells the service manager how the daemon is doing: readiness, a one-line
// status, that the loop is alive, and that it is stopping. Messages never
// fail the daemon: a manager that cannot be told is no reason to stop moving
// rows.
class service_notifier
{
public:
    using ptr = std::unique_ptr<service_notifier>;

    virtual ~service_notifier() = default;

    virtual void ready() = 0;
    // One line, shown by `systemctl status`.
    virtual void status(const std::string& _text) = 0;
    virtual void watchdog() = 0;
    virtual void stopping() = 0;
    // How often the manager expects watchdog(); zero when it expects nothing.
    virtual std::chrono::microseconds watchdog_interval() const = 0;
};

// The systemd notifier when the process was started with NOTIFY_SOCKET set,
// otherwise one that does nothing, so that a daemon run by hand or by a test
// behaves exactly as before.
service_notifier::ptr create_service_notifier();

}  // namespace zav
