// tools/plot_tracks over the real output of batch mode: it must read the
// padded output format, tell synthetic positions from smoothed ones and draw.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

struct run_result {
    int status = -1;
    std::string output;  // standard output and standard error
};

run_result run(const std::string& _command)
{
    run_result result;
    FILE* pipe = ::popen((_command + " 2>&1").c_str(), "r");
    if (pipe == nullptr)
        return result;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        result.output.append(buffer, n);
    const int status = ::pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string file_start(const fs::path& _path, std::size_t _bytes)
{
    std::ifstream stream(_path, std::ios::binary);
    std::string text(_bytes, '\0');
    stream.read(text.data(), static_cast<std::streamsize>(_bytes));
    text.resize(static_cast<std::size_t>(stream.gcount()));
    return text;
}

class plot_tracks_test : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dir = fs::temp_directory_path() / ("plot_tracks_test." + std::to_string(::getpid()));
        fs::create_directories(m_dir);
        // T1 every 200 ms for 30 s with a 3 s dropout after 4.0 s (two
        // synthetic positions, at 5.0 and 6.0 s) and one outlier; T2 without
        // gaps; one line of another kind, which is no raw position.
        std::ofstream in(m_dir / "in.csv");
        auto line = [&](const char* _uid, int _ms, int _x, int _y, const char* _kind = "UWB") {
            char text[160];
            std::snprintf(text, sizeof text, "%s|\\N|2024-05-01 12:00:%02d.%03d|1|f|\\N|\\N|\\N|%s|%d|%d|0|A|P|0\n",
                          _uid, _ms / 1000, _ms % 1000, _kind, _x, _y);
            in << text;
        };
        for (int ms = 0; ms <= 30000; ms += 200) {
            if (ms <= 4000 || ms >= 7000)
                line("T1", ms, 1000 + ms / 10 + (ms == 10000 ? 5000 : 0), 2000);
            line("T2", ms, 500, 500 + ms / 20);
        }
        line("T1", 2100, 0, 0, "BLE");
        in.close();
        m_raw_t1 = 0;
        for (int ms = 0; ms <= 30000; ms += 200)
            m_raw_t1 += (ms <= 4000 || ms >= 7000) ? 1 : 0;

        const auto batch = run(std::string(TRACKMEND_BINARY) + " -s -i " + path("in.csv") + " -o " + path("out.csv"));
        ASSERT_EQ(batch.status, 0) << batch.output;
    }

    void TearDown() override { fs::remove_all(m_dir); }

    std::string path(const std::string& _name) const { return "'" + (m_dir / _name).string() + "'"; }

    run_result plot(const std::string& _options) const
    {
        return run(std::string(TRACKMEND_SOURCE_DIR) + "/tools/plot_tracks --raw " + path("in.csv") +
                   " --processed " + path("out.csv") + " " + _options);
    }

    fs::path m_dir;
    int m_raw_t1 = 0;
};

}  // namespace

TEST_F(plot_tracks_test, counts_raw_smoothed_and_synthetic_positions_and_draws_them)
{
    const auto png = plot("-n 1 -o " + path("t.png"));
    ASSERT_EQ(png.status, 0) << png.output;
    const std::string t1 = "plot_tracks: T1: " + std::to_string(m_raw_t1) + " raw, " + std::to_string(m_raw_t1) +
                           " smoothed, 2 synthetic positions";
    EXPECT_NE(png.output.find(t1), std::string::npos)
        << "the trackable with the most filled gaps comes first, every raw position is smoothed once, the line of "
           "another kind is no position:\n"
        << png.output;
    EXPECT_EQ(png.output.find("T2:"), std::string::npos) << "-n 1 draws one trackable only";
    EXPECT_EQ(file_start(m_dir / "t.png", 8), "\x89PNG\r\n\x1a\n");

    const auto svg = plot("-t T2 --span 10 -o " + path("t.svg"));
    ASSERT_EQ(svg.status, 0) << svg.output;
    EXPECT_NE(svg.output.find("T2: 51 raw, 51 smoothed, 0 synthetic"), std::string::npos)
        << "--span 10 keeps 10 s of 5 Hz samples:\n"
        << svg.output;
    EXPECT_NE(file_start(m_dir / "t.svg", 400).find("<svg"), std::string::npos);
}

TEST_F(plot_tracks_test, refuses_what_it_cannot_draw)
{
    const auto unknown = plot("-t T9 -o " + path("t.png"));
    EXPECT_NE(unknown.status, 0);
    EXPECT_NE(unknown.output.find("no positions for trackable(s) T9"), std::string::npos) << unknown.output;

    const auto missing = run(std::string(TRACKMEND_SOURCE_DIR) + "/tools/plot_tracks --raw " + path("none.csv") +
                             " --processed " + path("out.csv") + " -o " + path("t.png"));
    EXPECT_NE(missing.status, 0);
    EXPECT_NE(missing.output.find("none.csv"), std::string::npos) << missing.output;

    const auto half = run(std::string(TRACKMEND_SOURCE_DIR) + "/tools/plot_tracks --raw " + path("in.csv") +
                          " -o " + path("t.png"));
    EXPECT_NE(half.status, 0) << "--raw without --processed";
    EXPECT_FALSE(fs::exists(m_dir / "t.png")) << "no picture from a refused run";
}
