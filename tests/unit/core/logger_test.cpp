#include "core/logger.hpp"

#include "support/log_capture.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <regex>
#include <sstream>
#include <stdexcept>

using trackmend_test::log_socket;
using trackmend_test::stderr_capture;
using zav::libs::core::logger;
using zav::libs::core::source_location;
using zav::libs::core::timestamp;

namespace {

const std::string date = R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} )";

// A location in a file of the source tree, shown as /src/a.cpp.
source_location in_tree(long _line, std::string_view _function)
{
    static const std::string file = std::string(TRACKMEND_SOURCE_DIR) + "/src/a.cpp";
    return source_location(_line, file, _function);
}

bool contains_line(const std::string& _text, const std::string& _line_pattern)
{
    return std::regex_search(_text, std::regex("(^|\n)" + _line_pattern + "\n"));
}

class LoggerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const char* value = std::getenv("ZAV_LAUNCHED_BY_SYSTEMD");
        if (value != nullptr && std::string_view(value) == "1")
            GTEST_SKIP() << "ZAV_LAUNCHED_BY_SYSTEMD=1 in the test environment";
    }
};

}  // namespace

TEST_F(LoggerTest, LineLayoutOnStandardErrorAndSocket)
{
    stderr_capture captured;
    logger log("trackmend", "main");
    log_socket socket(log);
    const auto where = in_tree(42, "void zav::a::b(int) const");

    log.info("Select %1% positions") % 250;
    log.error("at").date_time(timestamp(1714564800, 7));
    log.warning("located").location(where);
    log.info("with function").location(where).function(where);
    log.info("short").short_function(where);
    log.info("%1% and %2%") % "one";     // a missing argument stays empty
    log.info("no placeholder") % 1 % 2;  // surplus arguments are dropped
    {
        auto statement = log.info("moved %1%");  // a moved formatter writes once
        auto moved = std::move(statement);
        moved % 7;
    }

    EXPECT_EQ(socket.next(), "&trackmend:main Select 250 positions");
    EXPECT_EQ(socket.receive(), "&trackmend:main 2024-05-01 12:00:00.007 at")
        << "milliseconds are zero-padded";
    EXPECT_EQ(socket.next(), "&trackmend:main /src/a.cpp:42 located");
    EXPECT_EQ(socket.next(), "&trackmend:main /src/a.cpp:42 void zav::a::b(int) const: with function");
    EXPECT_EQ(socket.next(), "&trackmend:main zav::a::b: short");
    EXPECT_EQ(socket.next(), "&trackmend:main one and ");
    EXPECT_EQ(socket.next(), "&trackmend:main no placeholder");
    EXPECT_EQ(socket.next(), "&trackmend:main moved 7");
    EXPECT_TRUE(socket.is_quiet()) << "one line per statement";

    const auto err = captured.text();
    EXPECT_TRUE(std::regex_match(err, std::regex("trackmend: " + date +
                                                 "Starting trackmend\n"
                                                 "trackmend: " +
                                                 date +
                                                 "Select 250 positions\n"
                                                 "trackmend: 2024-05-01 12:00:00.007 at\n"
                                                 "trackmend: " +
                                                 date +
                                                 "/src/a.cpp:42 located\n"
                                                 "trackmend: " +
                                                 date +
                                                 ".*: with function\n"
                                                 "trackmend: " +
                                                 date +
                                                 "zav::a::b: short\n"
                                                 "trackmend: " +
                                                 date +
                                                 "one and \n"
                                                 "trackmend: " +
                                                 date +
                                                 "no placeholder\n"
                                                 "trackmend: " +
                                                 date + "moved 7\n")))
        << err;
}

TEST_F(LoggerTest, DebugMaskAndIndentation)
{
    stderr_capture captured;
    logger log("trackmend", "main");
    log_socket socket(log);

    log.debug("hidden %1%") % 1;
    EXPECT_EQ(socket.next(), "&trackmend:main hidden 1") << "debug lines reach the socket with debug off";

    log.set_debug(true);
    {
        auto outer = log.enter_function(in_tree(10, "void zav::x::run()"));
        auto inner = log.enter_scope(in_tree(11, "void zav::x::run()"), "piece");
        log.debug("Select %1% positions") % 250;
    }
    log.info("back");
    EXPECT_EQ(socket.next(), "&trackmend:main void zav::x::run()");
    EXPECT_EQ(socket.next(), "&trackmend:main     | /src/a.cpp:11 (piece)");
    EXPECT_EQ(socket.next(), "&trackmend:main         | Select 250 positions");
    EXPECT_EQ(socket.next(), "&trackmend:main back") << "guards restore the depth";

    // With debug off the system log text loses the indentation; the socket
    // copy keeps it.
    log.set_debug(false);
    {
        auto guard = log.enter_scope("quiet scope");
        log.info("indented");
    }
    EXPECT_EQ(socket.next(), "&trackmend:main quiet scope");
    EXPECT_EQ(socket.next(), "&trackmend:main     | indented");

    const auto err = captured.text();
    EXPECT_EQ(err.find("hidden"), std::string::npos) << "debug lines are masked with debug off";
    EXPECT_EQ(err.find("quiet scope"), std::string::npos);
    EXPECT_TRUE(contains_line(err, "trackmend: " + date + R"(void zav::x::run\(\))")) << err;
    EXPECT_TRUE(contains_line(err, "trackmend: " + date + R"(    \| /src/a\.cpp:11 \(piece\))")) << err;
    EXPECT_TRUE(contains_line(err, "trackmend: " + date + R"(        \| Select 250 positions)")) << err;
    EXPECT_TRUE(contains_line(err, "trackmend: " + date + "indented")) << err;
}

TEST_F(LoggerTest, ExceptionsAndErrors)
{
    stderr_capture captured;
    logger log("trackmend", "main");
    log_socket socket(log);
    auto component = log.component("core");
    const auto where = in_tree(7, "void zav::f()");

    EXPECT_FALSE(log.execute([] { throw std::logic_error("bad"); }));
    EXPECT_TRUE(log.execute([] {}));
    EXPECT_FALSE(component->execute([] { throw 42; }));
    EXPECT_EQ(socket.next(), "&trackmend:main std::exception::what(): bad");
    EXPECT_EQ(socket.next(), "&trackmend:core Unknown exception");

    // "Caught exeption" goes through the process-wide logger at its depth;
    // the description through the component at the component's.
    {
        auto g1 = component->enter_scope("one");
        auto g2 = component->enter_scope("two");
        auto g3 = component->enter_scope("three");
        try {
            throw zav::libs::core::exception("Cannot connect", where);
        } catch (...) {
            component->log_exception(where);
        }
    }
    for (const char* scope : {"one", "    | two", "        | three"})
        EXPECT_EQ(socket.next(), std::string("&trackmend:core ") + scope);
    EXPECT_EQ(socket.next(), "&trackmend:main /src/a.cpp:7 Caught exeption");
    EXPECT_EQ(socket.next(), "&trackmend:core             | /src/a.cpp:7 Cannot connect");

    component->log_exception(zav::libs::core::check_failed_exception("x > 0", where));
    component->log_error(boost::system::errc::make_error_code(boost::system::errc::timed_out), where);
    EXPECT_EQ(socket.next(), "&trackmend:core /src/a.cpp:7 check failed: x > 0");
    EXPECT_EQ(socket.next(), "&trackmend:core /src/a.cpp:7: Connection timed out");

    EXPECT_THROW(log.connect("no-such-transport://x"), zmq::error_t);
    log.info("still logging");
    const auto err = captured.text();
    EXPECT_TRUE(contains_line(err, "trackmend: " + date + "std::exception::what\\(\\): bad")) << err;
    EXPECT_TRUE(contains_line(err, "trackmend: " + date + "/src/a.cpp:7 Caught exeption")) << err;
    EXPECT_TRUE(contains_line(err, "trackmend: " + date + "still logging")) << err;
}

// Run as a child process by SystemdDecisionIsReadOnceFromTheEnvironment, as
// the decision is cached for the life of a process. Prints the socket copies
// on standard output.
TEST(LoggerChild, DISABLED_Emit)
{
    logger log("trackmend", "main");
    log_socket socket(log);
    log.info("plain line");
    auto component = log.component("forced");
    component->set_print_to_stderr(true);
    component->info("forced line");
    for (int i = 0; i < 2; ++i) std::cout << socket.receive().value_or("<nothing>") << "\n";
}

TEST(LoggerSystemd, SystemdDecisionIsReadOnceFromTheEnvironment)
{
    const auto self = std::filesystem::read_symlink("/proc/self/exe").string();
    const auto dir =
        std::filesystem::temp_directory_path() / ("trackmend_logger_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const auto read = [](const std::filesystem::path& _path) {
        std::stringstream s;
        s << std::ifstream(_path).rdbuf();
        return s.str();
    };

    for (const std::string assignment : {"", "ZAV_LAUNCHED_BY_SYSTEMD=true", "ZAV_LAUNCHED_BY_SYSTEMD=0",
                                         "ZAV_LAUNCHED_BY_SYSTEMD=", "ZAV_LAUNCHED_BY_SYSTEMD=1"}) {
        SCOPED_TRACE(assignment.empty() ? "unset" : assignment);
        const auto command = "env -u ZAV_LAUNCHED_BY_SYSTEMD " + assignment + " '" + self +
                             "' --gtest_also_run_disabled_tests --gtest_filter=LoggerChild.DISABLED_Emit >'" +
                             (dir / "out").string() + "' 2>'" + (dir / "err").string() + "'";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        const auto out = read(dir / "out");
        const auto err = read(dir / "err");

        EXPECT_TRUE(contains_line(out, "&trackmend:main " + date + "plain line"))
            << "the socket copy has the date\n"
            << out;
        EXPECT_TRUE(contains_line(out, "&trackmend:forced " + date + "forced line")) << out;
        EXPECT_TRUE(contains_line(err, "trackmend: " + date + "forced line")) << err;
        if (assignment == "ZAV_LAUNCHED_BY_SYSTEMD=1") {
            EXPECT_EQ(err.find("plain line"), std::string::npos) << "under systemd nothing else on stderr\n"
                                                                 << err;
            EXPECT_EQ(err.find("Starting"), std::string::npos) << err;
        } else {
            EXPECT_TRUE(contains_line(err, "trackmend: " + date + "plain line")) << err;
        }
    }
    std::filesystem::remove_all(dir);
}
