#include "core/pid_file.hpp"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "core/exception.hpp"
#include "support/files.hpp"
#include "support/process.hpp"

namespace core = zav::libs::core;
using trackmend_test::read_file;
using trackmend_test::write_file;

namespace {

// "ok", or the message of the exception that write_pid threw.
std::string attempt_write_pid(const std::string& _path)
{
    try {
        core::write_pid(_path);
        return "ok";
    } catch (const core::exception& e) {
        return e.get_string_error();
    }
}

// A forked process that runs a function, reports its text to the parent and
// then stays alive until the parent ends it.
class child_process
{
public:
    explicit child_process(const std::function<std::string()>& _body)
    {
        int channel[2];
        if (::pipe(channel) != 0) throw std::runtime_error("pipe failed");
        m_pid = ::fork();
        if (m_pid < 0) throw std::runtime_error("fork failed");
        if (m_pid == 0) {
            ::close(channel[0]);
            const std::string report = _body();
            [[maybe_unused]] const auto written = ::write(channel[1], report.data(), report.size());
            ::close(channel[1]);
            for (;;) ::pause();
        }
        ::close(channel[1]);
        char buffer[512];
        const auto size = ::read(channel[0], buffer, sizeof buffer);
        m_report.assign(buffer, size > 0 ? static_cast<std::size_t>(size) : 0);
        ::close(channel[0]);
    }
    ~child_process() { end(); }

    pid_t pid() const { return m_pid; }
    const std::string& report() const { return m_report; }

    // Kills the child and reaps it, so that its id is free afterwards.
    void end()
    {
        if (m_pid <= 0) return;
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }

private:
    pid_t m_pid = -1;
    std::string m_report;
};

// The id of a process that has ended and been reaped.
pid_t dead_pid()
{
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(0);
    ::waitpid(pid, nullptr, 0);
    return pid;
}

class PidFileTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "pid_file_test.XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_dir = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }

    std::string path(const std::string& _name) const { return (m_dir / _name).string(); }

    std::filesystem::path m_dir;
    const std::string m_own = std::to_string(::getpid());
};

}  // namespace

TEST_F(PidFileTest, ContentThatRecordsNoLiveProcessIsReplacedByTheOwnId)
{
    const std::string dead = std::to_string(dead_pid());
    const std::string cases[] = {"",
                                 "0",
                                 "-1",
                                 "-0",
                                 "abc",
                                 " \n\t",
                                 "99999999999999999999",
                                 m_own,
                                 m_own + "\n",
                                 dead,
                                 dead + " abc",
                                 "\n  " + dead + "xyz"};
    int index = 0;
    for (const std::string& content : cases) {
        const std::string file = path("case" + std::to_string(index++));
        write_file(file, content);
        EXPECT_EQ(attempt_write_pid(file), "ok") << "content '" << content << "'";
        EXPECT_EQ(read_file(file), m_own) << "content '" << content << "'";
    }

    const std::string fresh = path("fresh.pid");
    EXPECT_EQ(attempt_write_pid(fresh), "ok") << "no file yet";
    EXPECT_EQ(read_file(fresh), m_own);
    EXPECT_EQ(attempt_write_pid(fresh), "ok") << "the same process may write its own file again";
    EXPECT_EQ(read_file(fresh), m_own);
}

TEST_F(PidFileTest, RecordedIdOfALiveProcessWithoutTheLockIsNoDaemon)
{
    // The id has been reused by an unrelated process, as after a reboot or in
    // a container; only a lock holder is a running daemon.
    child_process other([] { return std::string("alive"); });
    const std::string file = path("reused.pid");
    write_file(file, std::to_string(other.pid()) + " trailing text");
    EXPECT_EQ(attempt_write_pid(file), "ok");
    EXPECT_EQ(read_file(file), m_own);
    write_file(path("init.pid"), "1");
    EXPECT_EQ(attempt_write_pid(path("init.pid")), "ok") << "not even process 1 is asked";
}

TEST_F(PidFileTest, ProcessHoldingTheFileRefusesOthersWhateverTheFileSays)
{
    const std::string file = path("held.pid");
    child_process holder([&] { return attempt_write_pid(file); });
    ASSERT_EQ(holder.report(), "ok");
    EXPECT_EQ(read_file(file), std::to_string(holder.pid())) << "bare decimal id, nothing after it";

    // The refusal names the file and, as far as its content says, the holder.
    EXPECT_EQ(attempt_write_pid(file),
              "Process is running: process " + std::to_string(holder.pid()) + " holds the PID file " + file);
    EXPECT_EQ(read_file(file), std::to_string(holder.pid())) << "a refused start leaves the file alone";

    // Content that would pass the check on its own does not help while the
    // lock is held: this is what keeps two daemons started at once apart.
    for (const std::string content : {"", "0", "garbage", m_own.c_str()}) {
        write_file(file, content);
        const std::string holder_text = content == m_own ? "process " + m_own : "another process";
        EXPECT_EQ(attempt_write_pid(file),
                  "Process is running: " + holder_text + " holds the PID file " + file)
            << "content '" << content << "'";
        EXPECT_EQ(read_file(file), content);
    }

    holder.end();
    EXPECT_EQ(attempt_write_pid(file), "ok") << "the holder has ended";
    EXPECT_EQ(read_file(file), m_own);

    // The lock stays with this process after write_pid returned; programs it
    // runs do not inherit it.
    EXPECT_EQ(trackmend_test::run_command("flock --nonblock --conflict-exit-code 7 '" + file + "' true"), 7);
    EXPECT_EQ(read_file(file), m_own);
}

TEST_F(PidFileTest, UnusablePathsFailOnTheWrite)
{
    for (const std::string& name : {path("missing/dir/trackmend.pid"), std::string(), m_dir.string()}) {
        EXPECT_NO_THROW(core::detail::check_pid(name)) << "path '" << name << "'";
        const std::string reason = name == m_dir.string() ? "Is a directory" : "No such file or directory";
        EXPECT_EQ(attempt_write_pid(name), "Error opening pid-file! " + name + ": " + reason)
            << "path '" << name << "'";
    }
    EXPECT_FALSE(std::filesystem::exists(path("missing")));
}
