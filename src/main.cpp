#include "continuous_mode.hpp"
#include "csv_application.hpp"
#include "csv_position_parser.hpp"

#include <iostream>
#include <string>
#include <unistd.h>

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

    // Continuous mode: the batch options have no effect.
    if (!config_file_name.empty())
        return zav::run_continuous_mode(config_file_name);

    if (input_positions_file.empty() || output_positions_file.empty()) {
        std::cerr << "Usage:\ntrackmend -i <file> -o <file> [-s]\n";
        return 1;
    }
    if (piece_size.empty())
        piece_size = "100000";
    const auto pieces = zav::parse_stoi_like(piece_size);
    if (!pieces || *pieces < 1) {
        std::cerr << "trackmend: invalid piece size \"" << piece_size
                  << "\" for -p: expected a whole number from 1 to 2147483647\n";
        return 1;
    }

    zav::csv_application app;
    return app.run(input_positions_file, output_positions_file, save_input_files, *pieces) ? 0 : 1;
}
