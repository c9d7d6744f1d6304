#include "application.hpp"
#include "batch/csv_position_parser.hpp"
#include "config.hpp"
#include "csv_application.hpp"

#include "core/core.hpp"
#include "core/exception.hpp"
#include "core/logger.hpp"
#include "core/pid_file.hpp"

#include <unistd.h>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>

int main(int argc, char* argv[])
{
    std::string config_file_name;
    std::string input_positions_file;
    std::string output_positions_file;
    std::string piece_size;
    bool save_input_files = false;

    int ret;
    while ((ret = getopt(argc, argv, "i:o:p:c:s")) != -1) {
        switch (ret) {
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
            default:
                // getopt has printed its diagnostic.
                return 1;
        }
    }

    // Continuous mode: the batch options have no effect. Exit status 0 only
    // after a run that was started and then stopped by SIGINT or SIGTERM, so
    // that a supervisor sees every failed start.
    if (!config_file_name.empty()) {
        using namespace zav::libs::core;

        // Declared in the order of creation, so that they are destroyed in
        // reverse: the loop, then the core, then the logger.
        std::unique_ptr<logger> log;
        try {
            log = std::make_unique<logger>("trackmend", "main");
        } catch (...) {
            std::cerr << "trackmend: cannot create the logger: " << exception_to_string() << '\n';
            return 1;
        }
        core::ptr core;
        events_loop::ptr main_loop;
        if (!log->execute([&] {
                core = core::create(*log);
                main_loop = core->create_events_loop("main");
            }))
            return 1;

        bool started = false;
        log->execute([&] {
            const auto configuration = zav::config::from_file(config_file_name);
            write_pid(configuration.system.pidfile_path);
            const auto signals = main_loop->stop_on_signals();
            const auto app = std::make_unique<zav::application>(*main_loop, *signals, configuration, *log);

            // run() returns normally only once a signal has stopped the loop;
            // an exception of a tick is logged and the loop, with its timer,
            // goes on.
            while (!log->execute([&] { main_loop->run(); })) {
            }
            log->info("exit").short_function(CORE_SOURCE_LOCATION);
            started = true;
        });
        return started ? 0 : 1;
    }

    if (input_positions_file.empty() || output_positions_file.empty()) {
        std::cerr << "Usage:\ntrackmend -i <file> -o <file> [-s]\n";
        return 1;
    }
    if (piece_size.empty()) piece_size = "100000";
    const auto pieces = zav::parse_stoi_like(piece_size);
    if (!pieces || *pieces < 1) {
        std::cerr << "trackmend: invalid piece size \"" << piece_size
                  << "\" for -p: expected a whole number from 1 to 2147483647\n";
        return 1;
    }

    zav::csv_application app;
    return app.run(input_positions_file, output_positions_file, save_input_files, *pieces) ? 0 : 1;
}
