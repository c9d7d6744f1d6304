#include "config.hpp"

#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>
#include <string>

#include "core/exception.hpp"
#include "support/files.hpp"

namespace {

const std::string complete = R"({
    "dw": {"host": "db.local", "user": "tm", "password": "secret", "database": "rtls", "port": 3306,
           "comment": "ignored"},
    "system": {"persistent_data_dir": "/var/lib/trackmend", "pidfile": "/run/trackmend/trackmend.pid",
               "debug": true, "timer_period_sec": 5, "select_duration_sec": 60.0, "insert_piece_size": 1000},
    "unused": [1, {"x": null}]
})";

// The complete document with pieces of text replaced, in order.
std::string with(std::initializer_list<std::pair<std::string, std::string>> _edits)
{
    std::string text = complete;
    for (const auto& [from, to] : _edits) {
        const auto at = text.find(from);
        if (at == std::string::npos) throw std::logic_error("test text not found: " + from);
        text.replace(at, from.size(), to);
    }
    return text;
}

std::string with(const std::string& _from, const std::string& _to) { return with({{_from, _to}}); }

zav::config read(const std::string& _text)
{
    std::istringstream stream(_text);
    return zav::config(stream);
}

// The message of the configuration error, or what else happened.
std::string error_of(const std::string& _text)
{
    try {
        read(_text);
    } catch (const zav::libs::core::exception& e) {
        return e.get_string_error();
    } catch (const std::runtime_error& e) {
        return std::string("runtime_error: ") + e.what();
    }
    return "no error";
}

}  // namespace

TEST(ConfigTest, CompleteFileFillsEveryMember)
{
    const zav::config config = read(complete);
    EXPECT_EQ(config.dw.host, "db.local");
    EXPECT_EQ(config.dw.user, "tm");
    EXPECT_EQ(config.dw.password, "secret");
    EXPECT_EQ(config.dw.database, "rtls");
    EXPECT_EQ(config.dw.port, 3306u);
    EXPECT_EQ(config.system.persistent_data_dir, "/var/lib/trackmend");
    EXPECT_EQ(config.system.pidfile_path, "/run/trackmend/trackmend.pid");
    EXPECT_TRUE(config.system.debug);
    EXPECT_EQ(config.system.timer_period_sec, 5);
    EXPECT_EQ(config.system.select_duration_sec, 60) << "60.0 is an integral number";
    EXPECT_EQ(config.system.insert_piece_size, 1000);

    EXPECT_EQ(read(with("\"port\": 3306", "\"port\": 65535")).dw.port, 65535u);
    EXPECT_EQ(read(with("\"port\": 3306", "\"port\": 1")).dw.port, 1u);
}

TEST(ConfigTest, BadSettingsAreAllListedInOrder)
{
    const std::string no_dw = with(
        R"("dw": {"host": "db.local", "user": "tm", "password": "secret", "database": "rtls", "port": 3306,
           "comment": "ignored"},)",
        "");
    const std::pair<std::string, std::string> cases[] = {
        // Missing or mistyped settings.
        {with("\"port\": 3306", "\"port\": \"12\""), "Can not find field <int>: dw.port"},
        {with("\"debug\": true", "\"debug\": 1"), "Can not find field <bool>: system.debug"},
        {with("\"debug\": true", "\"debug\": \"true\""), "Can not find field <bool>: system.debug"},
        {with("\"insert_piece_size\": 1000", "\"insert_piece_size\": 10.5"),
         "Can not find field <int>: system.insert_piece_size"},
        {with("\"pidfile\":", "\"pid_file\":"), "Can not find field <string>: system.pidfile"},
        {with({{"\"host\": \"db.local\",", ""}, {"\"debug\": true,", ""}}),
         "Can not find field <string>: dw.host\nCan not find field <bool>: system.debug"},
        {no_dw,
         "Can not find object <object>: dw, path: dw.host\n"
         "Can not find object <object>: dw, path: dw.user\n"
         "Can not find object <object>: dw, path: dw.password\n"
         "Can not find object <object>: dw, path: dw.database\n"
         "Can not find object <object>: dw, path: dw.port"},
        // Values are checked only after every setting was read.
        {with({{"\"port\": 3306", "\"port\": -1"}, {"\"user\": \"tm\"", "\"user\": 7"}}),
         "Can not find field <string>: dw.user"},
        // Values the daemon cannot work with.
        {with("\"port\": 3306", "\"port\": -1"), "'dw.port' must be a positive number"},
        {with("\"port\": 3306", "\"port\": 0"), "'dw.port' must be a positive number"},
        {with("\"port\": 3306", "\"port\": 65536"), "'dw.port' must not be greater than 65535"},
        {with("\"timer_period_sec\": 5", "\"timer_period_sec\": 0"),
         "'system.timer_period_sec' must be a positive number"},
        {with("\"select_duration_sec\": 60.0", "\"select_duration_sec\": -60"),
         "'system.select_duration_sec' must be a positive number"},
        {with({{"\"port\": 3306", "\"port\": 0"},
               {"\"insert_piece_size\": 1000", "\"insert_piece_size\": 0"}}),
         "'dw.port' must be a positive number\n'system.insert_piece_size' must be a positive number"},
        {with("\"persistent_data_dir\": \"/var/lib/trackmend\"", "\"persistent_data_dir\": \"\""),
         "'system.persistent_data_dir' must not be empty"},
        {with({{"\"timer_period_sec\": 5", "\"timer_period_sec\": 86401"},
               {"\"select_duration_sec\": 60.0", "\"select_duration_sec\": 3600000"}}),
         "'system.timer_period_sec' must not be greater than 86400\n"
         "'system.select_duration_sec' must not be greater than 86400"},
        // A number beyond int names its setting, next to the other failures.
        {with({{"\"port\": 3306", "\"port\": 3000000000"}, {"\"debug\": true", "\"debug\": 0"}}),
         "'dw.port' is out of range: 3000000000\nCan not find field <bool>: system.debug"},
        {with("\"insert_piece_size\": 1000", "\"insert_piece_size\": -1e12"),
         "'system.insert_piece_size' is out of range: -1000000000000"},
    };
    for (const auto& [text, message] : cases) EXPECT_EQ(error_of(text), "Config file is invalid: " + message);
}

TEST(ConfigTest, TextThatIsNoJsonIsAParseError)
{
    for (const std::string text : {"", "{\"dw\": ", "not json"})
        EXPECT_EQ(error_of(text).rfind("runtime_error: Cannot parse json: ", 0), 0u)
            << "input '" << text << "'";
    EXPECT_NE(error_of(with("\"debug\": true", "\"debug\": true, \"debug\": false")).find("Line 5"),
              std::string::npos)
        << "a key given twice is refused with its position";
    EXPECT_EQ(
        error_of("[]").rfind("Config file is invalid: Can not find object <object>: dw, path: dw.host\n", 0),
        0u);
}

TEST(ConfigTest, UnreadableFileSaysWhy)
{
    trackmend_test::temporary_directory dir;
    for (const auto& [path, reason] : {std::pair{dir / "missing.json", "No such file or directory"},
                                       std::pair{dir.path(), "Is a directory"}}) {
        try {
            zav::config::from_file(path.string());
            ADD_FAILURE() << "read " << path;
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(std::string(e.what()),
                      "Cannot parse json: cannot read " + path.string() + ": " + reason);
        }
    }
    trackmend_test::write_file(dir / "good.json", complete);
    EXPECT_EQ(zav::config::from_file((dir / "good.json").string()).dw.port, 3306u);
}

TEST(ConfigTest, HostsListReplacesHostAndPort)
{
    const auto hosts =
        with({{"\"host\": \"db.local\", ", ""},
              {"\"port\": 3306", R"("hosts": ["db1:3306", "[fd00::2]:3307", "10.0.0.3:3306"])"}});
    const auto config = read(hosts);
    EXPECT_EQ(config.dw.hosts, (zav::node_addresses{{"db1", 3306}, {"fd00::2", 3307}, {"10.0.0.3", 3306}}));
    EXPECT_TRUE(read(complete).dw.hosts.empty()) << "host and port alone keep working";

    EXPECT_EQ(
        error_of(with("\"port\": 3306", R"("port": 3306, "hosts": ["db1:3306"])")),
        "Config file is invalid: 'dw.hosts' replaces 'dw.host' and 'dw.port': give either the list or the "
        "two keys, not both");
    for (const auto& [value, reason] :
         {std::pair{R"([])", "must name at least one node"},
          {R"("db1:3306")", "must be an array of \"host:port\" strings"},
          {R"(["db1:3306", 7])", "must be an array of \"host:port\" strings"},
          {R"(["db1"])", "holds 'db1' is no \"host:port\" or \"[address]:port\": no port"}}) {
        const auto text =
            with({{"\"host\": \"db.local\", ", ""}, {"\"port\": 3306", "\"hosts\": " + std::string(value)}});
        EXPECT_EQ(error_of(text), "Config file is invalid: 'dw.hosts' " + std::string(reason)) << value;
    }
    // Listed with the other failures, first.
    EXPECT_EQ(error_of(with({{"\"host\": \"db.local\", ", ""},
                             {"\"port\": 3306", R"("hosts": [])"},
                             {"\"debug\": true", "\"debug\": 1"}})),
              "Config file is invalid: 'dw.hosts' must name at least one node\n"
              "Can not find field <bool>: system.debug");
}

TEST(ConfigTest, PasswordFileTlsPathsAndUnknownKeys)
{
    const trackmend_test::temporary_directory dir("config_test");
    trackmend_test::write_file(dir / "password", "from file\nsecond line ignored\n");
    const std::string file_key = R"("password_file": ")" + (dir / "password").string() + R"(")";
    const auto from_file = read(with(R"("password": "secret")", file_key));
    EXPECT_EQ(from_file.dw.password, "from file");
    EXPECT_EQ(from_file.dw.password_file, (dir / "password").string());
    EXPECT_EQ(error_of(with(R"("password": "secret")", R"("password": "secret", )" + file_key)),
              "Config file is invalid: give 'dw.password' or 'dw.password_file', not both");
    EXPECT_NE(error_of(with(R"("password": "secret")", R"("password_file": "/nonexistent/pw")"))
                  .find("'dw.password_file' cannot be read: /nonexistent/pw: No such file or directory"),
              std::string::npos);

    const auto tls = read(with(R"("port": 3306,)", R"("port": 3306, "tls": {"ca_file": "/etc/ca.pem"},)"));
    ASSERT_TRUE(tls.dw.tls);
    EXPECT_EQ(tls.dw.tls->ca_file, "/etc/ca.pem");
    EXPECT_TRUE(tls.dw.tls->verify_server_certificate) << "verification is on unless set false";
    EXPECT_FALSE(read(complete).dw.tls);
    EXPECT_EQ(
        error_of(with(R"("port": 3306,)",
                      R"("port": 3306, "tls": {"cert_file": "/c.pem", "verify_server_certificate": 1},)")),
        "Config file is invalid: 'dw.tls.ca_file' is required: the certificate authority's PEM file\n"
        "'dw.tls.cert_file' and 'dw.tls.key_file' go together: give both or neither\n"
        "'dw.tls.verify_server_certificate' must be true or false");

    EXPECT_EQ(error_of(with({{"\"/var/lib/trackmend\"", "\"state\""},
                             {"\"/run/trackmend/trackmend.pid\"", "\"t.pid\""}})),
              "Config file is invalid: 'system.persistent_data_dir' must be an absolute path: state\n"
              "'system.pidfile' must be an absolute path: t.pid");

    const auto misspelt =
        read(with(R"("insert_piece_size": 1000)", R"("insert_piece_size": 1000, "max_latenes_sec": 30)"));
    EXPECT_EQ(misspelt.system.max_lateness_sec, 0);
    EXPECT_EQ(misspelt.warnings,
              (std::vector<std::string>{
                  "unknown key 'dw.comment' (did you mean 'dw.host'?): ignored",
                  "unknown key 'system.max_latenes_sec' (did you mean 'system.max_lateness_sec'?): ignored",
                  "unknown key 'unused' (did you mean 'system'?): ignored"}))
        << "keys in ascending order within each object, each object's inner objects at their key";
}
