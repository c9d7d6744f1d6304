#include "csv_application.hpp"

#include "batch/csv_position_parser.hpp"
#include "batch/csv_position_writer.hpp"

#include <gtest/gtest.h>

#include <unistd.h>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <tuple>

using namespace zav;
namespace fs = std::filesystem;

namespace {

// (uid, milliseconds since the epoch): how an output line is matched to its
// input position.
using key = std::pair<std::string, long long>;

struct input_file
{
    std::string text;
    std::vector<position> valid;  // the positions the reader must accept
};

std::string time_text(long long _ms)
{
    return timestamp(std::chrono::milliseconds(_ms)).to_iso_8601_string(true);
}

// Tags at about 5 Hz with per-sample jitter, dropouts of 1 to 8 s, missing
// coordinates, non-UWB and malformed lines. Times of one tag strictly
// increase; lines are in time order unless _shuffle. A shuffled input uses
// steps of 203 ms and whole-second dropouts, so that no two samples of a tag
// share the millisecond digits and no synthetic position (which keeps the
// digits of the sample it starts from) can coincide with a real one.
input_file make_input(unsigned _seed, int _tags, int _seconds, bool _shuffle = false)
{
    std::mt19937 random(_seed);
    auto chance = [&](double _p) { return std::uniform_real_distribution<double>(0, 1)(random) < _p; };
    auto pick = [&](int _low, int _high) { return std::uniform_int_distribution<int>(_low, _high)(random); };
    struct line
    {
        long long ts;
        std::string text;
    };
    std::vector<line> lines;
    input_file result;
    const long long start = 1714564800000;
    for (int t = 0; t < _tags; ++t) {
        const std::string uid = "tag" + std::to_string(t);
        int x = pick(0, 50000), y = pick(0, 50000);
        for (long long ts = start + pick(0, 199); ts < start + _seconds * 1000LL;
             ts += _shuffle ? 203 : pick(150, 250)) {
            if (chance(0.01)) ts += _shuffle ? 1000 * pick(1, 8) : pick(1000, 8000);  // dropout
            x += pick(-300, 300);
            y += pick(-300, 300);
            const bool no_x = chance(0.03);
            std::string text = uid + "|\\N|" + time_text(ts) + "|1|f|\\N|\\N|\\N|";
            const bool ble = chance(0.02);
            const bool malformed = chance(0.02);
            text += (ble ? "BLE|" : "UWB|") + (no_x ? std::string("\\N") : std::to_string(x)) + "|" +
                    (malformed ? "" : std::to_string(y)) + "|1200|area|proj|" + std::to_string(t % 2);
            lines.push_back({ts, text});
            if (ble || malformed) continue;
            position p;
            p.trackable_uid = uid;
            p.ts = timestamp(std::chrono::milliseconds(ts));
            if (!no_x) p.x = x;
            p.y = y;
            result.valid.push_back(p);
        }
    }
    std::stable_sort(lines.begin(), lines.end(), [](const line& a, const line& b) { return a.ts < b.ts; });
    if (_shuffle) std::shuffle(lines.begin(), lines.end(), random);
    for (const auto& l : lines) result.text += l.text + "\n";
    return result;
}

std::vector<position> read_valid_positions(const std::string& _path)
{
    std::ifstream in(_path);
    std::vector<position> result;
    for (std::string line; std::getline(in, line);)
        if (auto p = parse_csv_position(line)) result.push_back(*p);
    return result;
}

// The fields of an output line without their leading blanks.
std::vector<std::string> split(const std::string& _line)
{
    std::vector<std::string> fields;
    std::stringstream in(_line);
    for (std::string field; std::getline(in, field, '|');)
        fields.push_back(field.erase(0, std::min(field.find_first_not_of(' '), field.size())));
    return fields;
}

std::multiset<key> written_keys(const std::vector<std::string>& _lines)
{
    std::multiset<key> written;
    for (const auto& line : _lines) {
        const auto f = split(line);
        EXPECT_EQ(f.size(), 9u) << line;
        if (f.size() > 2) written.insert({f[0], parse_csv_timestamp(f[2])->get_time_since_epoch().count()});
    }
    return written;
}

// Gaps of 1.5 to 5 s between consecutive samples with coordinates of one
// object are filled at 1 s steps from the earlier sample.
std::multiset<key> expected_synthetic(const std::vector<position>& _valid)
{
    std::map<std::string, std::vector<long long>> times;
    for (const auto& p : _valid)
        if (p.x && p.y) times[p.trackable_uid].push_back(p.ts.get_time_since_epoch().count());
    std::multiset<key> result;
    for (auto& [uid, ts] : times) {
        std::sort(ts.begin(), ts.end());
        for (std::size_t i = 1; i < ts.size(); ++i) {
            const long long gap = ts[i] - ts[i - 1];
            if (gap < 1001 || gap > 5000) continue;
            const long long seconds = gap / 1000 + (gap % 1000 >= 500 ? 1 : 0);
            for (long long k = 1; k < seconds; ++k) result.insert({uid, ts[i - 1] + k * 1000});
        }
    }
    return result;
}

class CsvApplicationTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_dir = fs::temp_directory_path() / ("csv_application_test." + std::to_string(::getpid()));
        fs::create_directories(m_dir);
    }
    void TearDown() override { fs::remove_all(m_dir); }

    std::string path(const std::string& _name) const { return (m_dir / _name).string(); }

    std::string write(const std::string& _name, const std::string& _content) const
    {
        std::ofstream(path(_name), std::ios::binary) << _content;
        return path(_name);
    }

    static std::vector<std::string> lines_of(const std::string& _path)
    {
        std::ifstream in(_path);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }

    // Runs batch mode over a copy of _input_path with the input kept.
    std::vector<std::string> run(const std::string& _input_path, int _piece_size)
    {
        const auto out = path("out-" + std::to_string(_piece_size) + ".csv");
        csv_application app;
        EXPECT_TRUE(app.run(_input_path, out, true, _piece_size)) << "piece size " << _piece_size;
        return lines_of(out);
    }

    // Every valid input position appears exactly once; everything else in
    // the output is a synthetic gap position; and the output does not depend
    // on the piece size.
    void check_batch_properties(const std::string& _input_path, const std::vector<position>& _valid,
                                std::vector<int> _piece_sizes)
    {
        std::multiset<key> expected = expected_synthetic(_valid);
        for (const auto& p : _valid) expected.insert({p.trackable_uid, p.ts.get_time_since_epoch().count()});
        std::vector<std::string> reference;
        for (const int piece_size : _piece_sizes) {
            auto lines = run(_input_path, piece_size);
            const auto written = written_keys(lines);
            EXPECT_TRUE(written == expected) << "piece size " << piece_size << ": " << written.size()
                                             << " lines written, " << expected.size() << " expected";
            std::sort(lines.begin(), lines.end());
            if (reference.empty())
                reference = lines;
            else
                EXPECT_TRUE(lines == reference) << "output with piece size " << piece_size
                                                << " differs from piece size " << _piece_sizes.front();
        }
    }

    fs::path m_dir;
};

}  // namespace

TEST_F(CsvApplicationTest, EmptyInputGivesAnEmptyOutput)
{
    EXPECT_TRUE(run(write("in.csv", ""), 100000).empty());
    EXPECT_TRUE(fs::exists(path("out-100000.csv")));
}

TEST_F(CsvApplicationTest, GeneratedInputAtEveryPieceSize)
{
    const auto data = make_input(11, 8, 60);
    const auto in = write("in.csv", data.text);
    ASSERT_EQ(read_valid_positions(in).size(), data.valid.size()) << "test data and reader disagree";
    check_batch_properties(in, data.valid, {100000, 1, 7, 1000});
}

TEST_F(CsvApplicationTest, UnorderedInputWritesEveryPositionOnce)
{
    const auto data = make_input(5, 6, 60, true);
    const auto in = write("in.csv", data.text);
    for (const int piece_size : {1, 50, 100000}) {
        const auto written = written_keys(run(in, piece_size));
        for (const auto& p : data.valid) {
            const key k{p.trackable_uid, p.ts.get_time_since_epoch().count()};
            EXPECT_EQ(written.count(k), 1u)
                << k.first << " " << time_text(k.second) << ", piece size " << piece_size;
        }
    }
}

TEST_F(CsvApplicationTest, RealTraces)
{
    const fs::path data_dir = TRACKMEND_SHARED_DATA_DIR;
    if (!fs::exists(data_dir / "real-uwb-tag.csv"))
        GTEST_SKIP() << "real traces not found in " << data_dir << "; skipping";
    for (const char* name : {"real-uwb-tag.csv", "real-camera-tracks.csv"}) {
        SCOPED_TRACE(name);
        const auto in = (data_dir / name).string();
        const auto valid = read_valid_positions(in);
        EXPECT_GT(valid.size(), 800u);
        check_batch_properties(in, valid, {100000, 1, 7, 1000});
        EXPECT_TRUE(fs::exists(in)) << "the shared trace must be kept";
    }
}

TEST_F(CsvApplicationTest, FailuresKeepTheInputAndCreateNoOutput)
{
    const std::string line = "T1|\\N|2024-05-01 12:00:00.000|\\N|\\N|\\N|\\N|\\N|UWB|1|2|3|A|P|0\n";
    const auto in = write("in.csv", line);
    const auto old_output = write("old-out.csv", "old\n");
    csv_application app;
    auto fails = [&](const std::string& _input, const std::string& _output, int _piece_size,
                     const std::string& _message) {
        testing::internal::CaptureStderr();
        const bool ok = app.run(_input, _output, false, _piece_size);
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_FALSE(ok) << _input << " -> " << _output;
        EXPECT_NE(err.find(_message), std::string::npos) << "stderr: " << err;
        EXPECT_TRUE(fs::exists(in)) << "the input is kept";
    };

    // Missing inputs, symbolic links and missing directories are run through
    // the command line in main_test.
    fails(m_dir.string(), old_output, 1000, "Is a directory");
    EXPECT_EQ(lines_of(old_output), std::vector<std::string>{"old"}) << "an unreadable input deletes nothing";
    // Opens, but its first read fails (address 0 is not mapped): the failure
    // happens on the reading thread and must still end the run.
    fails("/proc/self/mem", old_output, 1000, "Input/output error");
    EXPECT_EQ(lines_of(old_output), std::vector<std::string>{"old"}) << "a failed read deletes nothing";
    fs::create_hard_link(in, path("hard.csv"));
    fails(path("hard.csv"), in, 1000, "are the same file");
    EXPECT_EQ(lines_of(in).size(), 1u) << "the input is unchanged";
    EXPECT_EQ(std::distance(fs::directory_iterator(m_dir), fs::directory_iterator()), 3)
        << "no temporary file left behind";
}

TEST_F(CsvApplicationTest, PositionFarAheadTakesNoLookBackFromLaterPieces)
{
    // F's positions, far ahead of A's, are read and processed first; A at
    // 2.9 s must still have A at 2 s in its median window and start the gap
    // to 6 s from there, as in one piece.
    std::string text;
    for (const auto& [uid, time, x] :
         std::vector<std::tuple<std::string, std::string, int>>{{"F", "12:01:40", 0},
                                                                {"F", "12:03:20", 0},
                                                                {"A", "12:00:00", 0},
                                                                {"A", "12:00:01", 0},
                                                                {"A", "12:00:01.5", 0},
                                                                {"A", "12:00:02", 0},
                                                                {"A", "12:00:02.9", 90},
                                                                {"A", "12:00:06", 90}})
        text +=
            uid + "|\\N|2024-05-01 " + time + "|1|f|\\N|\\N|\\N|UWB|" + std::to_string(x) + "|0|0|a|p|\\N\n";
    const auto in = write("in.csv", text);
    auto whole = run(in, 100000);
    auto small_pieces = run(in, 3);
    std::vector<std::string> a_after_2s;
    for (const auto& line : small_pieces)
        if (line.find("                     A|") == 0 && line.substr(36, 23) > "2024-05-01 12:00:02.000")
            a_after_2s.push_back(line.substr(36, 23) + " x=" + line.substr(63, 7));
    EXPECT_EQ(a_after_2s, (std::vector<std::string>{
                              "2024-05-01 12:00:02.900 x=     45", "2024-05-01 12:00:03.900 x=     60",
                              "2024-05-01 12:00:04.900 x=     75", "2024-05-01 12:00:06.000 x=     90"}));
    std::sort(whole.begin(), whole.end());
    std::sort(small_pieces.begin(), small_pieces.end());
    EXPECT_EQ(small_pieces, whole);
}

// The output bytes, order included, at every piece size are those batch mode
// wrote before its pipeline kept state from piece to piece (FNV-1a of the
// output files of that version). A change that means to alter the output
// updates these numbers and says why.
TEST_F(CsvApplicationTest, OutputBytesAsBeforeAtEveryPieceSize)
{
    const auto fnv1a = [](const std::string& _path) {
        std::ifstream in(_path, std::ios::binary);
        std::uint64_t hash = 14695981039346656037ULL;
        for (char c; in.get(c);) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
        return hash;
    };
    const auto in = write("in.csv", make_input(11, 8, 60).text);
    for (const auto& [piece_size, expected] :
         std::vector<std::pair<int, std::uint64_t>>{{1, 2132939764193877632ULL},
                                                    {7, 10693437849907734296ULL},
                                                    {1000, 3862016942065002518ULL},
                                                    {100000, 285742360689337380ULL}}) {
        run(in, piece_size);
        EXPECT_EQ(fnv1a(path("out-" + std::to_string(piece_size) + ".csv")), expected)
            << "piece size " << piece_size;
    }
}

// Every line shows in the summary: positions, lines of other kinds, and
// malformed ones, among them a zero date and a line too long to hold.
TEST_F(CsvApplicationTest, SummaryCountsEveryKindOfSkippedLine)
{
    const auto line = [](const std::string& _uid, const std::string& _time, const std::string& _kind) {
        return _uid + "|\\N|" + _time + "|1|f|\\N|\\N|\\N|" + _kind + "|10|20|1|A|P|0\n";
    };
    const std::string text =
        line("T1", "2024-05-01 12:00:00.000", "UWB") + line("T1", "2024-05-01 12:00:00.500", "HB") +
        line("T1", "0000-00-00 00:00:00.000", "UWB") +
        line(std::string(csv_line_reader::max_line_length, 'u'), "2024-05-01 12:00:01.000", "UWB") +
        line("T1", "2024-05-01 12:00:01.000", "BLE") + line("T1", "0001-01-01 00:00:00.000", "UWB") +
        "T1|truncated\n" + line("T1", "2024-05-01 12:00:20.000", "UWB") +
        line("T1", "2024-05-01 12:00:21.000", "UWB");
    const auto in = write("in.csv", text);
    testing::internal::CaptureStderr();
    const auto lines = run(in, 100000);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("trackmend: 9 lines read, 4 skipped as malformed, 2 skipped as not UWB, 3 positions "
                       "written (0 synthetic)"),
              std::string::npos)
        << err;
    ASSERT_EQ(lines.size(), 3u);
    for (const auto& l : lines) EXPECT_EQ(l.substr(36, 5), "2024-") << "no zero date written: " << l;
}
