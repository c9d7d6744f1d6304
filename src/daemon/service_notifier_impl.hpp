#pragma once

#include "daemon/service_notifier.hpp"

namespace zav {

// sd_notify(3) over the socket named by NOTIFY_SOCKET. The variable is kept,
// not unset, so that the manager also hears from a restarted loop.
class service_notifier_impl : public service_notifier
{
public:
    service_notifier_impl();

    void ready() override;
    void status(const std::string& _text) override;
    void watchdog() override;
    void stopping() override;
    std::chrono::microseconds watchdog_interval() const override { return m_watchdog_interval; }

private:
    std::chrono::microseconds m_watchdog_interval{0};
};

// Used when no service manager listens.
class no_service_notifier : public service_notifier
{
public:
    void ready() override {}
    void status(const std::string&) override {}
    void watchdog() override {}
    void stopping() override {}
    std::chrono::microseconds watchdog_interval() const override { return {}; }
};

}  // namespace zav
