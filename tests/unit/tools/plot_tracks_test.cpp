// tools/plot_tracks over the real output of batch mode: it must read the
// padded output format, tell synthetic positions from smoothed ones and draw.

#include "support/process.hpp"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

const fs::path dir = fs::temp_directory_path() / ("plot_tracks_test." + std::to_string(::getpid()));

std::string path(const std::string& _name) { return "'" + (dir / _name).string() + "'"; }

// The exit status; _output receives standard output and standard error.
int run(const std::string& _command, std::string& _output)
{
    return trackmend_test::run_command(_command + " 2>&1", &_output);
}

int plot(const std::string& _options, std::string& _output)
{
    return run(TRACKMEND_SOURCE_DIR "/tools/plot_tracks " + _options, _output);
}

std::string file_start(const std::string& _name, std::size_t _bytes)
{
    std::ifstream stream(dir / _name, std::ios::binary);
    std::string text(_bytes, '\0');
    stream.read(text.data(), static_cast<std::streamsize>(_bytes));
    return text.substr(0, static_cast<std::size_t>(stream.gcount()));
}

}  // namespace

TEST(PlotTracksTest, CountsRawSmoothedAndSyntheticPositionsDrawsThemAndRefusesWhatItCannotDraw)
{
    fs::create_directories(dir);
    // T1 every 200 ms for 30 s with a 3 s dropout after 4.0 s (two synthetic
    // positions, at 5.0 and 6.0 s) and one outlier; T2 without gaps; one line
    // of another kind, which is no raw position.
    std::ofstream in(dir / "in.csv");
    auto line = [&](const char* _uid, int _ms, int _x, int _y, const char* _kind = "UWB") {
        char text[160];
        std::snprintf(text, sizeof text,
                      "%s|\\N|2024-05-01 12:00:%02d.%03d|1|f|\\N|\\N|\\N|%s|%d|%d|0|A|P|0\n", _uid,
                      _ms / 1000, _ms % 1000, _kind, _x, _y);
        in << text;
    };
    int raw_t1 = 0;
    for (int ms = 0; ms <= 30000; ms += 200) {
        if (ms <= 4000 || ms >= 7000) {
            line("T1", ms, 1000 + ms / 10 + (ms == 10000 ? 5000 : 0), 2000);
            ++raw_t1;
        }
        line("T2", ms, 500, 500 + ms / 20);
    }
    line("T1", 2100, 0, 0, "BLE");
    in.close();
    std::string output;
    ASSERT_EQ(run(TRACKMEND_BINARY " -s -i " + path("in.csv") + " -o " + path("out.csv"), output), 0)
        << output;
    const std::string tables = "--raw " + path("in.csv") + " --processed " + path("out.csv") + " ";

    ASSERT_EQ(plot(tables + "-n 1 -o " + path("t.png"), output), 0) << output;
    const std::string t1 = "plot_tracks: T1: " + std::to_string(raw_t1) + " raw, " + std::to_string(raw_t1) +
                           " smoothed, 2 synthetic positions";
    EXPECT_NE(output.find(t1), std::string::npos) << "the trackable with the most filled gaps comes first, "
                                                     "every raw position is smoothed once, the line of "
                                                     "another kind is no position:\n"
                                                  << output;
    EXPECT_EQ(output.find("T2:"), std::string::npos) << "-n 1 draws one trackable only";
    EXPECT_EQ(file_start("t.png", 8), "\x89PNG\r\n\x1a\n");
    fs::remove(dir / "t.png");

    output.clear();
    ASSERT_EQ(plot(tables + "-t T2 --span 10 -o " + path("t.svg"), output), 0) << output;
    EXPECT_NE(output.find("T2: 51 raw, 51 smoothed, 0 synthetic"), std::string::npos)
        << "--span 10 keeps 10 s of 5 Hz samples:\n"
        << output;
    EXPECT_NE(file_start("t.svg", 400).find("<svg"), std::string::npos);

    // Refused: an unknown trackable, a missing file, --raw without --processed.
    for (const auto& [options, message] :
         {std::pair{tables + "-t T9", std::string("no positions for trackable(s) T9")},
          {"--raw " + path("none.csv") + " --processed " + path("out.csv"), "none.csv"},
          {"--raw " + path("in.csv"), ""}}) {
        output.clear();
        EXPECT_NE(plot(options + " -o " + path("t.png"), output), 0) << options;
        EXPECT_NE(output.find(message), std::string::npos) << output;
    }
    EXPECT_FALSE(fs::exists(dir / "t.png")) << "no picture from a refused run";
    fs::remove_all(dir);
}
