#include "signals_handle_impl.hpp"

#include <boost/asio/signal_set.hpp>

#include <csignal>

namespace zav::libs::core {

signals_handle_impl::signals_handle_impl(events_loop::ptr _thread_events_loop, events_loop& _main_events_loop,
                                         const component_logger& _logger)
    : m_thread_events_loop(std::move(_thread_events_loop)),
      m_main_events_loop(_main_events_loop),
      m_logger(_logger)
{
    m_thread = std::thread([this] { thread_function(); });
    std::unique_lock lock(m_armed_mutex);
    m_armed_condition.wait(lock, [this] { return m_armed; });
}

signals_handle_impl::~signals_handle_impl()
{
    // A stopped loop's run() returns at once, so this works also when the
    // thread has not reached run() yet.
    m_thread_events_loop->stop();
    if (m_thread.joinable()) m_thread.join();
    m_thread_events_loop.reset();
}

bool signals_handle_impl::signal_is_received() const { return m_signal_is_received.load(); }

void signals_handle_impl::report_armed()
{
    std::lock_guard lock(m_armed_mutex);
    m_armed = true;
    m_armed_condition.notify_all();
}

void signals_handle_impl::thread_function()
{
    try {
        boost::asio::signal_set signals(m_thread_events_loop->get_io_context());
        for (const int signal_number : {SIGINT, SIGTERM}) {
            boost::system::error_code ec;
            signals.add(signal_number, ec);
            // The signal keeps its default disposition, which still stops
            // the process; only the flag and the orderly stop are lost.
            if (ec) m_logger.log_error(ec, CORE_SOURCE_LOCATION);
        }
        signals.async_wait([this](const boost::system::error_code& _ec, int /*_signal_number*/) {
            if (_ec) return;
            m_signal_is_received = true;
            m_main_events_loop.stop();
            m_thread_events_loop->stop();
        });
        report_armed();
        m_thread_events_loop->run();
        // The signal set is destroyed here, which gives both signals back
        // their default disposition.
    } catch (...) {
        m_logger.log_exception(CORE_SOURCE_LOCATION);
        report_armed();
    }
}

}  // namespace zav::libs::core
