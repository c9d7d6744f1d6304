#include "timer_impl.hpp"

#include <boost/asio/error.hpp>

namespace zav::libs::core {

timer_impl::timer_impl(boost::asio::io_context& _io_context, const component_logger& _logger,
                       timer::callback _callback)
    : m_timer(_io_context), m_logger(_logger), m_data(std::make_shared<shared_data>())
{
    m_data->m_callback = std::move(_callback);
}

timer_impl::~timer_impl()
{
    m_data.reset();
    m_timer.cancel();
}

bool timer_impl::is_waiting() const { return m_data->m_waiting; }

void timer_impl::reset(time_point _time_point)
{
    // expires_at cancels the pending wait, whose completion then reports
    // operation_aborted; one already queued with success is made stale by the
    // new wait id.
    m_timer.expires_at(_time_point);
    m_time_point = _time_point;
    const auto wait_id = ++m_data->m_wait_id;
    m_data->m_waiting = true;

    std::weak_ptr<shared_data> weak_data = m_data;
    const component_logger& logger = m_logger;
    m_timer.async_wait(
        [weak_data, wait_id, deadline = _time_point, &logger](const boost::system::error_code& _ec) {
            const auto data = weak_data.lock();
            const bool current = data && data->m_wait_id == wait_id;
            if (current) data->m_waiting = false;
            if (_ec) {
                if (_ec != boost::asio::error::operation_aborted) logger.log_error(_ec, CORE_SOURCE_LOCATION);
                return;
            }
            if (current) data->m_callback(deadline);
        });
}

void timer_impl::stop()
{
    m_data->m_waiting = false;
    ++m_data->m_wait_id;
    m_time_point = time_point{};
    m_timer.cancel();
}

}  // namespace zav::libs::core
