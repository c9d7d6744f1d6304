#include "config.hpp"

#include <string>
#include <tuple>
#include <vector>

#include "config_parser/config.hpp"
#include "core/exception.hpp"

namespace zav {

namespace {

// The largest TCP port; the client library would silently truncate a larger
// number to 16 bits and connect elsewhere.
constexpr int max_port = 65535;

}  // namespace

config::config(std::istream& _stream)
{
    using libs::config::type;
    const auto document = libs::config::config::create<type::json>(_stream);

    // Every setting is read before anything is checked, so that one error
    // lists all of them.
    const auto settings = document->get_by_path<std::string>({"dw", "host"}) +
                          document->get_by_path<std::string>({"dw", "user"}) +
                          document->get_by_path<std::string>({"dw", "password"}) +
                          document->get_by_path<std::string>({"dw", "database"}) +
                          document->get_by_path<int>({"dw", "port"}) +
                          document->get_by_path<std::string>({"system", "persistent_data_dir"}) +
                          document->get_by_path<std::string>({"system", "pidfile"}) +
                          document->get_by_path<bool>({"system", "debug"}) +
                          document->get_by_path<int>({"system", "timer_period_sec"}) +
                          document->get_by_path<int>({"system", "select_duration_sec"}) +
                          document->get_by_path<int>({"system", "insert_piece_size"});
    if (!settings.ok())
        throw libs::core::exception("Config file is invalid: " + settings.reason(), CORE_SOURCE_LOCATION);

    int port = 0;
    std::tie(dw.host, dw.user, dw.password, dw.database, port, system.persistent_data_dir,
             system.pidfile_path, system.debug, system.timer_period_sec, system.select_duration_sec,
             system.insert_piece_size) = settings.value();

    // Values the daemon cannot work with: port 0 reaches no server, a zero
    // timer period divides by zero in the timer, a zero window never moves
    // and a zero insert piece size never finishes a write.
    std::vector<std::string> out_of_range;
    if (port < 1)
        out_of_range.push_back("'dw.port' must be a positive number");
    else if (port > max_port)
        out_of_range.push_back("'dw.port' must not be greater than " + std::to_string(max_port));
    if (system.timer_period_sec < 1)
        out_of_range.push_back("'system.timer_period_sec' must be a positive number");
    if (system.select_duration_sec < 1)
        out_of_range.push_back("'system.select_duration_sec' must be a positive number");
    if (system.insert_piece_size < 1)
        out_of_range.push_back("'system.insert_piece_size' must be a positive number");
    if (!out_of_range.empty()) {
        std::string message = "Config file is invalid: " + out_of_range.front();
        for (std::size_t i = 1; i < out_of_range.size(); ++i) message += "\n" + out_of_range[i];
        throw libs::core::exception(message, CORE_SOURCE_LOCATION);
    }
    dw.port = static_cast<std::uint32_t>(port);
}

}  // namespace zav
