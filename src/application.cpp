#include "application.hpp"

#include <chrono>

#include "core/source_location.hpp"
#include "database_impl.hpp"

namespace zav {

application::application(events_loop& _events_loop, events_loop::signals_handle& _signals,
                         const config& _config, logger& _logger)
    : m_logger(_logger)
{
    _logger.set_debug(_config.system.debug);

    m_database = std::make_unique<database_impl>(
        _config.dw.host, _config.dw.user, _config.dw.password, _config.dw.database, _config.dw.port, _signals,
        _logger, _config.system.insert_piece_size, _config.system.persistent_data_dir);
    m_runner = std::make_unique<post_processor_runner>(
        *m_database, _logger, _signals, _config.system.persistent_data_dir,
        std::chrono::seconds(_config.system.select_duration_sec));

    // Not wrapped: an exception of a timed run leaves the loop's run(), whose
    // caller logs it and runs the loop again; the timer stays armed.
    m_main_timer = _events_loop.create_periodic_timer(
        std::chrono::seconds(_config.system.timer_period_sec), "main_timer",
        [this](libs::core::timer::time_point) { m_runner->run(); }, libs::core::source_location());

    m_logger.execute([this] { m_runner->run(); });
}

}  // namespace zav
