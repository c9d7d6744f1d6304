// The daemon under a service manager: the real executable reports to a
// NOTIFY_SOCKET of the test's own, around a real start, catch-up and SIGTERM
// against the private server.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "support/files.hpp"
#include "support/server_test.hpp"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A Unix datagram socket bound at a path, as systemd's notification socket.
class notify_socket
{
public:
    explicit notify_socket(const fs::path& _path) : m_fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0))
    {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        _path.string().copy(address.sun_path, sizeof address.sun_path - 1);
        if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            throw std::runtime_error("cannot bind " + _path.string());
    }
    ~notify_socket() { ::close(m_fd); }
    notify_socket(const notify_socket&) = delete;
    notify_socket& operator=(const notify_socket&) = delete;

    std::optional<std::string> receive(std::chrono::milliseconds _timeout)
    {
        pollfd item{m_fd, POLLIN, 0};
        if (::poll(&item, 1, static_cast<int>(_timeout.count())) != 1) return std::nullopt;
        char buffer[4096];
        const auto size = ::recv(m_fd, buffer, sizeof buffer, 0);
        if (size < 0) return std::nullopt;
        return std::string(buffer, static_cast<std::size_t>(size));
    }

private:
    int m_fd;
};

class ServiceNotifierTest : public trackmend_test::server_test
{
protected:
    ServiceNotifierTest() : server_test("TRUNCATE TABLE positions_raw; TRUNCATE TABLE positions") {}

    void SetUp() override
    {
        server_test::SetUp();
        if (IsSkipped()) return;
        fs::create_directory(m_dir / "state");
    }
    void TearDown() override
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        server_test::TearDown();
    }

    // Ten tags at 5 Hz for _seconds, ending an hour ago: a catch-up of many
    // windows.
    void load_raw_rows(int _seconds)
    {
        for (int second = 0; second < _seconds; ++second) {
            std::string values;
            for (int tag = 0; tag < 10; ++tag)
                for (int fifth = 0; fifth < 5; ++fifth)
                    values +=
                        std::string(values.empty() ? "" : ", ") + "(" + std::to_string(tag) + ", 'T" +
                        std::to_string(tag) + "', NULL, UTC_TIMESTAMP(3) - INTERVAL 1 HOUR - INTERVAL " +
                        std::to_string((_seconds - second) * 1000 - fifth * 200) + " * 1000 MICROSECOND, " +
                        std::to_string(tag * 100 + second) + ", 7, 0, 'a', 'p', 0, 'UWB')";
            m_sql->execute(
                "INSERT INTO positions_raw (trackable_id, trackable_uid, mac_address, ts, x, y, "
                "z, area_uid, project_uid, inactive, type) VALUES " +
                values);
        }
    }

    void start_daemon()
    {
        const auto config = m_dir / "config.json";
        trackmend_test::write_file(config, R"({"dw": {"host": ")" + m_server.host + R"(", "user": ")" +
                                               m_server.user + R"(", "password": ")" + m_server.password +
                                               R"(", "database": ")" + m_server.schema + R"(", "port": )" +
                                               std::to_string(m_server.port) + R"(},
 "system": {"persistent_data_dir": ")" + (m_dir / "state").string() +
                                               R"(", "pidfile": ")" + (m_dir / "trackmend.pid").string() +
                                               R"(", "debug": false,
            "timer_period_sec": 1, "select_duration_sec": 5, "insert_piece_size": 500}})");
        std::vector<std::string> variables{"NOTIFY_SOCKET=" + (m_dir / "notify.sock").string(),
                                           "WATCHDOG_USEC=1000000"};
        for (char** e = environ; *e; ++e)
            if (std::string(*e).rfind("NOTIFY_SOCKET=", 0) != 0 && std::string(*e).rfind("WATCHDOG_", 0) != 0)
                variables.emplace_back(*e);
        std::vector<char*> env;
        for (auto& v : variables) env.push_back(v.data());
        env.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        ::posix_spawn_file_actions_init(&actions);
        const auto log = (m_dir / "daemon.log").string();
        ::posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                           0644);
        std::string binary = TRACKMEND_BINARY, option = "-c", path = config.string();
        std::vector<char*> argv{binary.data(), option.data(), path.data(), nullptr};
        ASSERT_EQ(::posix_spawn(&m_pid, binary.c_str(), &actions, nullptr, argv.data(), env.data()), 0);
        ::posix_spawn_file_actions_destroy(&actions);
    }

    // Messages until one starts with _prefix (included) or the time is up.
    bool receive_until(const std::string& _prefix, std::chrono::seconds _timeout)
    {
        const auto deadline = std::chrono::steady_clock::now() + _timeout;
        while (std::chrono::steady_clock::now() < deadline) {
            const auto message = m_socket.receive(100ms);
            if (!message) continue;
            m_messages.push_back(*message);
            if (*message == "READY=1")
                m_pid_file_at_ready = trackmend_test::read_file(m_dir / "trackmend.pid");
            if (message->rfind(_prefix, 0) == 0) return true;
        }
        return false;
    }

    std::ptrdiff_t first(const std::string& _prefix) const
    {
        const auto found = std::find_if(m_messages.begin(), m_messages.end(),
                                        [&](const std::string& _m) { return _m.rfind(_prefix, 0) == 0; });
        return found == m_messages.end() ? -1 : found - m_messages.begin();
    }

    std::string log() const { return trackmend_test::read_file(m_dir / "daemon.log"); }

    trackmend_test::temporary_directory m_dir{"service_notifier_test"};
    notify_socket m_socket{m_dir / "notify.sock"};
    pid_t m_pid = -1;
    std::vector<std::string> m_messages;
    std::string m_pid_file_at_ready;
};

TEST_F(ServiceNotifierTest, ReadyStatusWatchdogAndStoppingInOrder)
{
    load_raw_rows(300);
    start_daemon();
    ASSERT_TRUE(receive_until("STATUS=live: lag ", 120s)) << ::testing::PrintToString(m_messages) << log();
    // A few idle ticks: the loop keeps pinging.
    const auto pings_before = std::count(m_messages.begin(), m_messages.end(), "WATCHDOG=1");
    receive_until("never", 3s);
    EXPECT_GE(std::count(m_messages.begin(), m_messages.end(), "WATCHDOG=1") - pings_before, 3)
        << "at least one ping per second while idle";

    ASSERT_EQ(::kill(m_pid, SIGTERM), 0);
    ASSERT_TRUE(receive_until("STOPPING=1", 30s)) << ::testing::PrintToString(m_messages);
    const auto daemon_pid = std::to_string(m_pid);
    int status = 0;
    ASSERT_EQ(::waitpid(m_pid, &status, 0), m_pid);
    m_pid = -1;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << log();

    const auto ready = first("READY=1");
    ASSERT_GE(ready, 0) << ::testing::PrintToString(m_messages);
    EXPECT_EQ(std::count(m_messages.begin(), m_messages.end(), "READY=1"), 1);
    EXPECT_LT(first("STATUS=connecting to the database"), ready);
    EXPECT_LT(ready, first("WATCHDOG=1")) << "the watchdog runs once the daemon is ready";
    EXPECT_LT(ready, first("STATUS=live: lag "));
    EXPECT_EQ(m_messages.back(), "STOPPING=1");
    EXPECT_EQ(m_pid_file_at_ready, daemon_pid) << "the PID file is taken before the daemon reports ready";
    EXPECT_NE(log().find("caught up; lag "), std::string::npos) << log();
}

}  // namespace
