// tools/plot_tracks reading the tables positions_raw and positions through
// the daemon's configuration file, against the real server.

#include "support/mariadb_test_server.hpp"
#include "support/process.hpp"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <tuple>

namespace fs = std::filesystem;
using trackmend_test::mariadb_test_server;

namespace {

// Unlikely to meet rows of other tests, and removed again.
const std::string uid = "plot-tracks-test";

// tools/plot_tracks with a configuration for _user; the exit status, with
// standard output and standard error in _output.
int plot(const mariadb_test_server& _server, const std::string& _user, const std::string& _options,
         std::string& _output)
{
    const fs::path config = fs::temp_directory_path() / ("plot_tracks_db_test." + std::to_string(::getpid()));
    std::ofstream(config) << R"({"dw": {"host": ")" << _server.host << R"(", "port": )" << _server.port
                          << R"(, "user": ")" << _user << R"(", "password": ")"
                          << (_user == _server.user ? _server.password : "x") << R"(", "database": ")"
                          << _server.schema << R"("}, "system": {}})";
    const int status = trackmend_test::run_command(
        TRACKMEND_SOURCE_DIR "/tools/plot_tracks --config '" + config.string() + "' " + _options + " 2>&1",
        &_output);
    fs::remove(config);
    return status;
}

}  // namespace

TEST(PlotTracksDbTest, ReadsBothTablesWithoutHeartbeatsAndReportsAnUnusableAccount)
{
    const auto server = mariadb_test_server::from_environment();
    if (!server) GTEST_SKIP() << mariadb_test_server::skip_message;
    auto sql = server->connect();
    const std::string remove = "DELETE FROM positions_raw WHERE trackable_uid = '" + uid +
                               "'; DELETE FROM positions WHERE trackable_uid = '" + uid + "'";
    sql->execute(remove);
    // Raw samples at 0.0, 0.5, 3.0, 3.5 s and a heartbeat at 1.2 s; the
    // processed rows repeat the samples and fill the gap at 1.0 and 2.0 s.
    // A processed row outside --from/--to is not read.
    auto values = [&](std::initializer_list<std::tuple<const char*, int, const char*>> _rows) {
        std::string text;
        for (auto [time, xy, kind] : _rows)
            text += std::string(text.empty() ? "" : ", ") + "(1, '" + uid + "', '2024-05-01 12:" + time +
                    "', " + std::to_string(xy) + ", " + std::to_string(xy) +
                    (*kind ? std::string(", '") + kind + "'" : "") + ")";
        return text;
    };
    sql->execute("INSERT INTO positions_raw (trackable_id, trackable_uid, ts, x, y, type) VALUES " +
                 values({{"00:00.000", 0, "UWB"},
                         {"00:00.500", 10, "UWB"},
                         {"00:01.200", 500, "HB"},
                         {"00:03.000", 30, "UWB"},
                         {"00:03.500", 40, "UWB"}}));
    sql->execute("INSERT INTO positions (trackable_id, trackable_uid, ts, x, y) VALUES " +
                 values({{"00:00.000", 5, ""},
                         {"00:00.500", 5, ""},
                         {"00:01.500", 15, ""},
                         {"00:02.500", 25, ""},
                         {"00:03.000", 35, ""},
                         {"00:03.500", 35, ""},
                         {"10:00.000", 35, ""}}));

    const fs::path png =
        fs::temp_directory_path() / ("plot_tracks_db_test." + std::to_string(::getpid()) + ".png");
    std::string output;
    EXPECT_EQ(plot(*server, server->user,
                   "-t " + uid + " --from '2024-05-01 12:00:00' --to '2024-05-01 12:01:00' -o '" +
                       png.string() + "'",
                   output),
              0)
        << output;
    sql->execute(remove);
    EXPECT_NE(output.find(uid + ": 4 raw, 4 smoothed, 2 synthetic positions"), std::string::npos) << output;
    EXPECT_TRUE(fs::remove(png));

    output.clear();
    EXPECT_NE(plot(*server, "nobody", "-o '" + png.string() + "'", output), 0);
    EXPECT_NE(output.find("plot_tracks: query failed"), std::string::npos) << output;
    EXPECT_FALSE(fs::exists(png));
}
