#pragma once

#include "core/component_logger.hpp"
#include "core/timer.hpp"

#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>

#include <cstdint>
#include <memory>

namespace zav::libs::core {

class timer_impl final : public timer
{
public:
    // Idle until the first reset(). _io_context and _logger must outlive the
    // completions of the timer's waits.
    timer_impl(boost::asio::io_context& _io_context, const component_logger& _logger,
               timer::callback _callback);
    // Releases the shared data before cancelling, so that a completion still
    // queued finds nothing to call.
    ~timer_impl() override;

    bool is_waiting() const override;
    void reset(time_point _time_point) override;
    void stop() override;

private:
    // Shared with the pending completions, which hold it weakly; a completion
    // locks it for the duration of the callback, so the callback may destroy
    // its own timer.
    struct shared_data
    {
        timer::callback m_callback;
        bool m_waiting = false;
        // Identifies the current wait: only its completion may clear
        // m_waiting or call the callback. A wait replaced by reset() (even
        // for the same deadline) or cancelled by stop() is stale.
        std::uint64_t m_wait_id = 0;
    };

    boost::asio::steady_timer m_timer;
    time_point m_time_point{};
    const component_logger& m_logger;
    std::shared_ptr<shared_data> m_data;
};

}  // namespace zav::libs::core
