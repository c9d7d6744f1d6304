// The trackmend executable from the command line: options, usage text, exit
// statuses and what happens to the files.

#include <gtest/gtest.h>

#include <algorithm>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/process.hpp"

namespace fs = std::filesystem;

namespace {

const std::string valid_lines =
    "T1|\\N|2024-05-01 12:00:00.000|1|f|\\N|\\N|\\N|UWB|10|20|1|A|P|0\n"
    "T1|\\N|2024-05-01 12:00:02.000|2|f|\\N|\\N|\\N|UWB|30|40|1|A|P|0\n"
    "T1|\\N|2024-05-01 12:00:30.000|3|f|\\N|\\N|\\N|BLE|30|40|1|A|P|0\n";

struct outcome
{
    int status;
    std::string err;
};

class MainTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_dir = fs::temp_directory_path() / ("main_test." + std::to_string(::getpid()));
        fs::create_directories(m_dir);
        m_in = path("in.csv");
        std::ofstream(m_in) << valid_lines;
    }
    void TearDown() override { fs::remove_all(m_dir); }

    std::string path(const std::string& _name) const { return (m_dir / _name).string(); }

    // Runs trackmend with _arguments (shell words) inside the test directory;
    // _prefix runs before it in the same shell.
    outcome trackmend(const std::string& _arguments, const std::string& _prefix = "") const
    {
        const std::string err = path("stderr.txt");
        const std::string command = "cd '" + m_dir.string() + "' && " + _prefix + " '" TRACKMEND_BINARY "' " +
                                    _arguments + " 2>'" + err + "' >/dev/null";
        const int raw = std::system(("sh -c \"" + command + "\"").c_str());
        std::ifstream in(err);
        std::stringstream text;
        text << in.rdbuf();
        fs::remove(err);
        return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, text.str()};
    }

    std::size_t entries() const
    {
        return static_cast<std::size_t>(
            std::distance(fs::directory_iterator(m_dir), fs::directory_iterator()));
    }

    fs::path m_dir;
    std::string m_in;
};

}  // namespace

TEST_F(MainTest, UsageAndOptionErrors)
{
    const std::string usage = "Usage:\ntrackmend -i <file> -o <file> [-s]\n";
    for (const char* args : {"", "-i in.csv", "-o out.csv", "-i '' -o out.csv", "-c '' -i in.csv"}) {
        const auto r = trackmend(args);
        EXPECT_EQ(r.status, 1) << args;
        EXPECT_EQ(r.err, usage) << args;
    }
    for (const char* args : {"-x -i in.csv -o out.csv", "-i in.csv -o"}) {
        const auto r = trackmend(args);
        EXPECT_EQ(r.status, 1) << args;
        EXPECT_NE(r.err.find("option"), std::string::npos) << "getopt's diagnostic: " << r.err;
        EXPECT_NE(r.err.find("Exit status:"), std::string::npos) << "then the help, not the bare usage";
    }
    const auto check_alone = trackmend("--check-config");
    EXPECT_EQ(check_alone.status, 1);
    EXPECT_EQ(check_alone.err, "trackmend: --check-config needs -c <config.json>\n");
    for (const char* bad :
         {"abc", "0", "-3", "' '", "99999999999", "12abc", "1e3", "' 2x'", "+5", "' 5'", "2147483648"}) {
        const auto r = trackmend(std::string("-i in.csv -o out.csv -p ") + bad);
        EXPECT_EQ(r.status, 1) << "-p " << bad;
        EXPECT_NE(r.err.find("piece size"), std::string::npos) << r.err;
    }
    EXPECT_TRUE(fs::exists(m_in)) << "no option error touches the input";
    EXPECT_EQ(entries(), 1u) << "no option error creates a file";
}

TEST_F(MainTest, HelpNamesOptionsExitStatusesAlertsAndStatusTexts)
{
    std::string long_help, short_help;
    EXPECT_EQ(trackmend_test::run_command("'" TRACKMEND_BINARY "' --help", &long_help), 0);
    EXPECT_EQ(trackmend_test::run_command("'" TRACKMEND_BINARY "' -h -i in.csv", &short_help), 0);
    EXPECT_EQ(long_help, short_help);
    for (const char* text :
         {"-t, --check-config", "-p <n>", "Exit status:", "Process is running", "Still failing",
          "caught up; lag N s", "live: lag 11.4 s", "database unreachable since 12:00:31, retrying"})
        EXPECT_NE(long_help.find(text), std::string::npos) << text;
    EXPECT_EQ(entries(), 1u) << "help runs nothing";
}

TEST_F(MainTest, BatchRuns)
{
    for (const char* good : {"2147483647", "007"}) {
        const auto r = trackmend(std::string("-i in.csv -o out.csv -s -p ") + good);
        EXPECT_EQ(r.status, 0) << "-p " << good << ": " << r.err;
    }
    auto r = trackmend("-i in.csv -o out.csv -s -p 2");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.rfind("trackmend: ", 0), 0u) << "one summary line: " << r.err;
    EXPECT_NE(r.err.find("positions written (1 synthetic)"), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_TRUE(fs::exists(m_in)) << "-s keeps the input";
    std::ifstream out(path("out.csv"));
    std::vector<std::string> lines;
    for (std::string line; std::getline(out, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), 3u) << "two positions and one synthetic between them";
    EXPECT_EQ(lines[1].substr(36, 26), "2024-05-01 12:00:01.000000");
    EXPECT_EQ(lines[1].substr(63, 15), "     20|     30") << "halfway between (10,20) and (30,40)";

    r = trackmend("-c '' -i in.csv -o out2.csv -p ''");
    EXPECT_EQ(r.status, 0) << "empty -c and -p: batch mode, default piece size; " << r.err;
    EXPECT_FALSE(fs::exists(m_in)) << "without -s the input is deleted";
    EXPECT_EQ(fs::file_size(path("out2.csv")), fs::file_size(path("out.csv")));
}

TEST_F(MainTest, ContinuousModeIgnoresTheBatchOptions)
{
    trackmend("-c missing-config.json -i in.csv -o out.csv");
    EXPECT_TRUE(fs::exists(m_in));
    EXPECT_FALSE(fs::exists(path("out.csv")));
}

TEST_F(MainTest, FailedRunsExitNonZeroAndLoseNothing)
{
    auto r = trackmend("-i missing.csv -o out.csv");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find("missing.csv"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("No such file or directory"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(path("out.csv")));

    fs::create_symlink("in.csv", path("alias.csv"));
    r = trackmend("-i in.csv -o alias.csv");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find("same file"), std::string::npos) << r.err;
    EXPECT_EQ(fs::file_size(m_in), valid_lines.size()) << "the input is untouched";

    r = trackmend("-i in.csv -o no-such-dir/out.csv");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find("no-such-dir/out.csv"), std::string::npos) << r.err;

    // A file size limit makes writing the output fail part way.
    std::ofstream big(m_in);
    for (int i = 0; i < 2000; ++i)
        big << "T1|\\N|2024-05-01 12:" << (10 + i / 200) << ":" << (10 + i % 200 / 5) << "." << (i % 5) * 200
            << "|1|f|\\N|\\N|\\N|UWB|10|20|1|A|P|0\n";
    big.close();
    r = trackmend("-i in.csv -o out.csv", "trap '' XFSZ; ulimit -f 64;");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find("Error writing file"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("out.csv"), std::string::npos) << r.err;
    EXPECT_TRUE(fs::exists(m_in)) << "a failed write keeps the input";
    EXPECT_FALSE(fs::exists(path("out.csv")));
    EXPECT_EQ(entries(), 2u) << "no temporary file left behind";
}

// Without -s only the regular file that was read is deleted, and only a
// regular file is replaced: device nodes, FIFOs and symbolic links stay.
TEST_F(MainTest, SpecialFilesAreNeitherDeletedNorReplaced)
{
    const auto is_device = [](const std::string& _path) {
        return fs::symlink_status(_path).type() == fs::file_type::character;
    };
    fs::create_symlink("in.csv", path("alias.csv"));
    auto r = trackmend("-i alias.csv -o out.csv");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("input file \"alias.csv\" is kept"), std::string::npos) << r.err;
    EXPECT_TRUE(fs::is_symlink(path("alias.csv")));
    EXPECT_TRUE(fs::exists(m_in));

    ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0600), 0);
    r = trackmend("-i fifo -o out-fifo.csv", "(cat in.csv > fifo &);");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(fs::symlink_status(path("fifo")).type(), fs::file_type::fifo) << "a FIFO is never deleted";
    EXPECT_EQ(fs::file_size(path("out-fifo.csv")), fs::file_size(path("out.csv")));

    if (::mknod(path("null").c_str(), S_IFCHR | 0666, ::makedev(1, 3)) != 0)
        GTEST_SKIP() << "cannot make a device node here (not root?)";
    r = trackmend("-i in.csv -o null -s");
    EXPECT_EQ(r.status, 0) << "written through to the device: " << r.err;
    EXPECT_TRUE(is_device(path("null"))) << "the device is not replaced by a file";
    r = trackmend("-i null -o out-null.csv");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(is_device(path("null"))) << "the device is not deleted";
    EXPECT_EQ(fs::file_size(path("out-null.csv")), 0u);
    fs::create_symlink("null", path("link-to-null"));
    r = trackmend("-i in.csv -o link-to-null -s");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::is_symlink(path("link-to-null")));
}

TEST_F(MainTest, LeftoversOfEndedRunsGoAndLongNamesWork)
{
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) ::_exit(0);
    ASSERT_EQ(::waitpid(child, nullptr, 0), child);
    const std::string ended = "out.csv.tmp." + std::to_string(child);
    const std::string alive = "out.csv.tmp." + std::to_string(::getpid());
    std::ofstream(path(ended)) << std::string(100000, 'x');
    std::ofstream(path(alive)) << "another run's, still writing";
    auto r = trackmend("-i in.csv -o out.csv -s");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(fs::exists(path(ended))) << "left by a run that has ended";
    EXPECT_TRUE(fs::exists(path(alive)));

    const std::string longest(255, 'o');
    r = trackmend("-i in.csv -o " + longest + " -s");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(fs::file_size(path(longest)), fs::file_size(path("out.csv")));
}

TEST_F(MainTest, OutOfMemoryIsReportedAndKeepsTheInput)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer cannot run under a memory limit";
#endif
    // A piece size that asks for more memory than the limit leaves.
    const auto r = trackmend("-i in.csv -o out.csv -p 2147483647", "ulimit -v 60000;");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "trackmend: out of memory\n");
    EXPECT_TRUE(fs::exists(m_in));
    EXPECT_FALSE(fs::exists(path("out.csv")));
}
