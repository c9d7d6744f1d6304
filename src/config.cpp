#include "config.hpp"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "config_parser/config.hpp"
#include "config_parser/dictionary.hpp"
#include "core/exception.hpp"
#include "daemon/credential_settings.hpp"
#include "daemon/database_nodes_setting.hpp"
#include "daemon/unknown_keys.hpp"

namespace zav {

namespace {

// The largest TCP port; the client library would silently truncate a larger
// number to 16 bits and connect elsewhere.
constexpr int max_port = 65535;
// A timer period or window longer than a day is a typing error (minutes or
// milliseconds meant), not a plan: the daemon would look hung for days.
constexpr int max_seconds = 24 * 60 * 60;

using document_ptr = libs::config::config::ptr;

// An integer setting. A number beyond int is reported under the setting's
// name instead of escaping as the JSON library's own exception, which names
// nothing.
libs::config::result<int> get_int(const document_ptr& _document, const std::string& _section,
                                  const std::string& _key)
{
    try {
        return _document->get_by_path<int>({_section, _key});
    } catch (const std::exception&) {
        std::ostringstream text;
        text.precision(17);
        text << "'" << _section << "." << _key << "' is out of range";
        if (const auto section = _document->get<const libs::config::dictionary&>(_section))
            if (const auto number = section->get_value(_key)) text << ": " << number->as_double().value_or(0);
        return libs::config::error_reason{text.str()};
    }
}

std::string read_file(const std::string& _path)
{
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(_path.c_str(), "rb"), &std::fclose);
    std::string content;
    int error = file ? 0 : errno;
    char buffer[4096];
    while (error == 0) {
        const std::size_t count = std::fread(buffer, 1, sizeof buffer, file.get());
        content.append(buffer, count);
        if (count < sizeof buffer) {
            // A directory opens fine and fails only here, with EISDIR.
            if (std::ferror(file.get())) error = errno != 0 ? errno : EIO;
            break;
        }
    }
    if (error != 0)
        throw std::runtime_error("Cannot parse json: cannot read " + _path + ": " + std::strerror(error));
    return content;
}

}  // namespace

config config::from_file(const std::string& _path)
{
    std::istringstream stream(read_file(_path));
    config settings(stream);
    struct stat info
    {
    };
    // Owner and group are the daemon's account and its administrators; any
    // other user who may read the file has the database password.
    if (settings.dw.password_file.empty() && ::stat(_path.c_str(), &info) == 0 && (info.st_mode & S_IROTH))
        settings.warnings.push_back("the configuration " + _path +
                                    " holds the database password and every user may read it: "
                                    "chmod o-r it, or move the password to dw.password_file");
    return settings;
}

config::config(std::istream& _stream)
{
    using libs::config::type;
    const auto document = libs::config::config::create<type::json>(_stream);

    // With a list of nodes, host and port count as given: the list's own
    // result says whether they are absent as they must be.
    using libs::config::result;
    const auto nodes = read_database_nodes_setting(*document);
    const auto host =
        nodes ? result<std::string>(std::string()) : document->get_by_path<std::string>({"dw", "host"});
    const auto port_setting = nodes ? result<int>(1) : get_int(document, "dw", "port");

    // Every setting is read before anything is checked, so that one error
    // lists all of them.
    const auto settings =
        nodes.value_or(result<node_addresses>(node_addresses())) + host +
        document->get_by_path<std::string>({"dw", "user"}) + read_password_setting(*document) +
        document->get_by_path<std::string>({"dw", "database"}) + port_setting +
        document->get_by_path<std::string>({"system", "persistent_data_dir"}) +
        document->get_by_path<std::string>({"system", "pidfile"}) +
        document->get_by_path<bool>({"system", "debug"}) + get_int(document, "system", "timer_period_sec") +
        get_int(document, "system", "select_duration_sec") + get_int(document, "system", "insert_piece_size");
    if (!settings.ok())
        throw libs::core::exception("Config file is invalid: " + settings.reason(), CORE_SOURCE_LOCATION);

    int port = 0;
    password_setting password;
    std::tie(dw.hosts, dw.host, dw.user, password, dw.database, port, system.persistent_data_dir,
             system.pidfile_path, system.debug, system.timer_period_sec, system.select_duration_sec,
             system.insert_piece_size) = settings.value();
    dw.password = password.password;
    dw.password_file = password.file;

    // Values the daemon cannot work with: port 0 reaches no server, an empty
    // data directory puts the state files into the root directory, a zero
    // timer period spins, a zero window never moves and a zero insert piece
    // size never finishes a write.
    std::vector<std::string> out_of_range;
    auto check_seconds = [&](const char* _name, int _value) {
        if (_value < 1)
            out_of_range.push_back(std::string("'system.") + _name + "' must be a positive number");
        else if (_value > max_seconds)
            out_of_range.push_back(std::string("'system.") + _name + "' must not be greater than " +
                                   std::to_string(max_seconds));
    };
    if (port < 1)
        out_of_range.push_back("'dw.port' must be a positive number");
    else if (port > max_port)
        out_of_range.push_back("'dw.port' must not be greater than " + std::to_string(max_port));
    // The daemon's working directory is nobody's choice (the service manager
    // starts it in /): a relative path would put the state files or the PID
    // file wherever that happens to be.
    if (system.persistent_data_dir.empty())
        out_of_range.push_back("'system.persistent_data_dir' must not be empty");
    else if (system.persistent_data_dir.front() != '/')
        out_of_range.push_back("'system.persistent_data_dir' must be an absolute path: " +
                               system.persistent_data_dir);
    if (!system.pidfile_path.empty() && system.pidfile_path.front() != '/')
        out_of_range.push_back("'system.pidfile' must be an absolute path: " + system.pidfile_path);
    if (const auto tls = read_tls_setting(*document)) {
        if (tls->ok())
            dw.tls = tls->value();
        else
            out_of_range.push_back(tls->reason());
    }
    check_seconds("timer_period_sec", system.timer_period_sec);
    check_seconds("select_duration_sec", system.select_duration_sec);
    if (system.insert_piece_size < 1)
        out_of_range.push_back("'system.insert_piece_size' must be a positive number");
    // Optional whole seconds within [_min, _max]; absent, *_value keeps its
    // default.
    const auto system_object = document->get<const libs::config::dictionary&>("system");
    auto optional_seconds = [&](const char* _name, int _min, int _max, int* _value) {
        if (!system_object || !system_object->get_value(_name)) return;
        const auto seconds = get_int(document, "system", _name);
        if (!seconds.ok())
            out_of_range.push_back(seconds.reason());
        else if (seconds.value() < _min || seconds.value() > _max)
            out_of_range.push_back(std::string("'system.") + _name + "' must be a number from " +
                                   std::to_string(_min) + " to " + std::to_string(_max));
        else
            *_value = seconds.value();
    };
    optional_seconds("max_lateness_sec", 0, max_seconds, &system.max_lateness_sec);
    // Up to thirty days: the read ledger keeps a row per written piece
    // for that long.
    optional_seconds("late_horizon_sec", 60, 30 * max_seconds, &system.late_horizon_sec);
    if (system_object && system_object->get_value("repair_late_rows")) {
        const auto repair = document->get_by_path<bool>({"system", "repair_late_rows"});
        if (!repair.ok())
            out_of_range.push_back(repair.reason());
        else
            system.repair_late_rows = repair.value();
    }
    if (!out_of_range.empty()) {
        std::string message = "Config file is invalid: " + out_of_range.front();
        for (std::size_t i = 1; i < out_of_range.size(); ++i) message += "\n" + out_of_range[i];
        throw libs::core::exception(message, CORE_SOURCE_LOCATION);
    }
    if (dw.hosts.empty()) dw.port = static_cast<std::uint32_t>(port);
    warnings = unknown_key_warnings(*document);
}

}  // namespace zav
