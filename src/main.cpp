#include "application.hpp"
#include "config.hpp"
#include "csv_application.hpp"
#include "daemon/configuration_check.hpp"
#include "daemon/database_start_check.hpp"
#include "daemon/hangup_notice.hpp"
#include "daemon/reprocess_command.hpp"
#include "daemon/service_notifier.hpp"

#include "core/constants.hpp"
#include "core/core.hpp"
#include "core/exception.hpp"
#include "core/logger.hpp"
#include "core/pid_file.hpp"

#include <getopt.h>
#include <unistd.h>
#include <fstream>
#include <iostream>
#include <limits>
#include <memory>
#include <optional>
#include <string>

namespace {

// What an operator needs without opening the manual: the options, the exit
// statuses, the lines worth an alert and the service manager's status texts.
constexpr const char* help_text = R"(Usage:
  trackmend -i <file> -o <file> [-s] [-p <n>]   batch mode: post-process a file of positions
  trackmend -c <config.json>                   daemon: move positions_raw to positions
  trackmend -c <config.json> -t                check a daemon configuration and exit
  trackmend -c <config.json> --reprocess FROM TO
                                               recompute positions over [FROM, TO] (UTC,
                                               'YYYY-MM-DD HH:MM:SS[.fff]') from the raw rows

Options:
  -i <file>             input file of raw positions (batch mode)
  -o <file>             output file of processed positions (batch mode)
  -s                    keep the input file (batch mode; without it the input is deleted)
  -p <n>                positions per piece (batch mode; default 100000)
  -c <file>             the daemon's JSON configuration; the batch options are ignored
  -t, --check-config    with -c: validate the configuration as a start would, connect to the
                        database, check both tables, their columns, the SELECT and INSERT
                        privileges and that the state directory is writable; one line per
                        check ("ok: ..." or "FAILED: ..."); takes no PID file, writes nothing
  -V, --version         the version
  -h, --help            this text

Exit status:
  0  batch mode succeeded; the daemon ran and was stopped by SIGTERM or SIGINT;
     every check of --check-config passed
  1  wrong options; batch mode failed; the daemon could not start (bad configuration,
     PID file held, signal while waiting for the database); the daemon stopped on
     state files that contradict the table positions; a check failed

Log lines worth an alert (system log, identifier "trackmend"; warnings and errors):
  "Config file is invalid: ...", "Cannot parse json: ..."    the daemon did not start
  "Process is running: ..."                                   another daemon holds the PID file
  "Cannot start: ..."                                         the database refused the account, a table
                                                              or right is missing, or TLS failed
  "Still failing: N failed attempts since T, ..."             a run keeps failing (once a minute)
  any other error line                                        a failed run or database access

Progress (info level):
  "Catching up: ..."                     at most every 10 s while behind
  "caught up; lag N s"                   when a catch-up has ended
  "Working again after N failed attempts since T"

Status line under systemd (systemctl status trackmend):
  "connecting to the database"
  "catching up: 1.2 M rows behind, 48 k rows/s"
  "live: lag 11.4 s"
  "database unreachable since 12:00:31, retrying"
  "failing since 12:00:31 (N attempts), retrying: <error>"
)";

// The whole text as a number from 1 to 2147483647: decimal digits only, no
// sign, no blanks, nothing after them.
std::optional<int> parse_piece_size(const std::string& _text)
{
    if (_text.empty() || _text.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
    long long value = 0;
    for (const char c : _text) {
        value = value * 10 + (c - '0');
        if (value > std::numeric_limits<int>::max()) return std::nullopt;
    }
    if (value < 1) return std::nullopt;
    return static_cast<int>(value);
}

// The process-wide logger of component _component; null, with the reason on
// standard error, when it cannot be created.
std::unique_ptr<zav::libs::core::logger> create_logger(const char* _component)
{
    try {
        return std::make_unique<zav::libs::core::logger>("trackmend", _component);
    } catch (...) {
        std::cerr << "trackmend: cannot create the logger: " << zav::libs::core::exception_to_string()
                  << '\n';
        return nullptr;
    }
}

// trackmend -c FILE --reprocess FROM TO: TO is the one argument left after
// the options.
int reprocess(const std::string& _config_file, const std::string& _from, int _rest_count, char** _rest)
{
    using namespace zav::libs::core;
    const auto from = zav::parse_utc_time(_from);
    const auto to = _rest_count == 1 ? zav::parse_utc_time(_rest[0]) : std::nullopt;
    if (_config_file.empty() || !from || !to) {
        std::cerr << "trackmend: usage: trackmend -c <config.json> --reprocess 'YYYY-MM-DD HH:MM:SS[.fff]' "
                     "'YYYY-MM-DD HH:MM:SS[.fff]' (UTC)\n";
        return 1;
    }
    const auto log = create_logger("reprocess");
    if (!log) return 1;
    int status = 1;
    log->execute([&] {
        const auto core = core::create(*log);
        const auto loop = core->create_events_loop("main");
        const auto configuration = zav::config::from_file(_config_file);
        const auto signals = loop->stop_on_signals();
        status = zav::run_reprocess_command(configuration, *log, *signals, *from, *to, std::cout);
    });
    return status;
}

}  // namespace

int main(int argc, char* argv[])
{
    std::string config_file_name;
    std::string input_positions_file;
    std::string output_positions_file;
    std::string piece_size;
    bool save_input_files = false;
    bool check_config = false;

    std::optional<std::string> reprocess_from;
    static const option long_options[] = {{"help", no_argument, nullptr, 'h'},
                                          {"check-config", no_argument, nullptr, 't'},
                                          {"version", no_argument, nullptr, 'V'},
                                          {"reprocess", required_argument, nullptr, 'r'},
                                          {nullptr, 0, nullptr, 0}};
    int ret;
    while ((ret = getopt_long(argc, argv, "i:o:p:c:sthV", long_options, nullptr)) != -1) {
        switch (ret) {
            case 'h':
                std::cout << help_text;
                return 0;
            case 'V':
                std::cout << "trackmend " << zav::libs::core::constants::git_version << '\n';
                return 0;
            case 't':
                check_config = true;
                break;
            case 'c':
                config_file_name = optarg;
                break;
            case 'i':
                input_positions_file = optarg;
                break;
            case 'o':
                output_positions_file = optarg;
                break;
            case 'p':
                piece_size = optarg;
                break;
            case 's':
                save_input_files = true;
                break;
            case 'r':
                reprocess_from = optarg;
                break;
            default:
                // getopt has printed its diagnostic.
                std::cerr << help_text;
                return 1;
        }
    }

    if (check_config) {
        if (config_file_name.empty()) {
            std::cerr << "trackmend: --check-config needs -c <config.json>\n";
            return 1;
        }
        return zav::check_configuration(config_file_name, std::cout) ? 0 : 1;
    }

    if (reprocess_from) return reprocess(config_file_name, *reprocess_from, argc - optind, argv + optind);

    // Continuous mode: the batch options have no effect. Exit status 0 only
    // after a run that was started and then stopped by SIGINT or SIGTERM, so
    // that a supervisor sees every failed start and every stop on state files
    // that contradict the database.
    if (!config_file_name.empty()) {
        using namespace zav::libs::core;

        // Declared in the order of creation, so that they are destroyed in
        // reverse: the loop, then the core, then the logger.
        const auto log = create_logger("main");
        if (!log) return 1;
        core::ptr core;
        events_loop::ptr main_loop;
        if (!log->execute([&] {
                core = core::create(*log);
                main_loop = core->create_events_loop("main");
            }))
            return 1;

        bool started = false;
        log->execute([&] {
            const zav::hangup_notice hangups(*main_loop, *log);
            log->info("trackmend %1%, configuration %2%") % constants::git_version % config_file_name;
            const auto configuration = zav::config::from_file(config_file_name);
            for (const auto& warning : configuration.warnings) log->warning("Configuration: %1%") % warning;
            write_pid(configuration.system.pidfile_path);
            const auto signals = main_loop->stop_on_signals();
            const auto notifier = zav::create_service_notifier();
            zav::check_database_at_start(configuration, *signals, *log, *notifier);
            const auto app =
                std::make_unique<zav::application>(*main_loop, *signals, configuration, *log, *notifier);

            // run() returns normally only once a signal has stopped the loop;
            // an exception of a handler is logged and the loop, with its
            // timers, goes on.
            while (!log->execute([&] { main_loop->run(); })) {
            }
            notifier->stopping();
            started = !app->stopped_on_inconsistent_state();
            if (started) log->info("Stopping on a termination signal (SIGTERM or SIGINT)");
            log->info("exit").short_function(CORE_SOURCE_LOCATION);
        });
        return started ? 0 : 1;
    }

    if (input_positions_file.empty() || output_positions_file.empty()) {
        std::cerr << "Usage:\ntrackmend -i <file> -o <file> [-s]\n";
        return 1;
    }
    if (piece_size.empty()) piece_size = "100000";
    const auto pieces = parse_piece_size(piece_size);
    if (!pieces) {
        std::cerr << "trackmend: invalid piece size \"" << piece_size
                  << "\" for -p: expected a whole number from 1 to 2147483647\n";
        return 1;
    }

    zav::csv_application app;
    return app.run(input_positions_file, output_positions_file, save_input_files, *pieces) ? 0 : 1;
}
