// The shipped sample configuration, the systemd unit and the documentation
// must agree: the package installs the sample as the unit's configuration,
// and the unit makes everything but its own directories read-only.

#include <gtest/gtest.h>
#include <json/json.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "config.hpp"

namespace {

const std::string source_dir = TRACKMEND_SOURCE_DIR;

std::string read_file(const std::string& _path)
{
    std::ifstream stream(_path);
    EXPECT_TRUE(stream) << "cannot read " << _path;
    std::ostringstream text;
    text << stream.rdbuf();
    return text.str();
}

// The value of the first line "_key=..." of a systemd unit, or "".
std::string unit_setting(const std::string& _unit, const std::string& _key)
{
    std::istringstream lines(_unit);
    for (std::string line; std::getline(lines, line);)
        if (line.rfind(_key + "=", 0) == 0) return line.substr(_key.size() + 1);
    return "";
}

// "dw.host", "system.pidfile", ...: the paths of every leaf of the sample.
std::vector<std::string> sample_keys()
{
    std::ifstream stream(source_dir + "/examples/trackmend.json");
    Json::Value document;
    stream >> document;
    std::vector<std::string> keys;
    for (const auto& object : document.getMemberNames())
        for (const auto& key : document[object].getMemberNames()) keys.push_back(object + "." + key);
    return keys;
}

}  // namespace

TEST(example_config, is_valid_and_fits_the_systemd_unit)
{
    std::ifstream stream(source_dir + "/examples/trackmend.json");
    ASSERT_TRUE(stream);
    const zav::config config(stream);  // throws on any invalid setting

    const auto unit = read_file(source_dir + "/packaging/trackmend.service.in");
    EXPECT_EQ(config.system.persistent_data_dir, "/var/lib/" + unit_setting(unit, "StateDirectory"))
        << "the state files must lie in the unit's StateDirectory, the only writable place besides /run";
    EXPECT_EQ(std::filesystem::path(config.system.pidfile_path).parent_path(),
              "/run/" + unit_setting(unit, "RuntimeDirectory"))
        << "the PID file must lie in the unit's RuntimeDirectory";
    EXPECT_EQ(
        unit_setting(unit, "ExecStart"),
        "@CMAKE_INSTALL_FULL_BINDIR@/trackmend -c @CMAKE_INSTALL_FULL_SYSCONFDIR@/trackmend/trackmend.json");
    EXPECT_EQ(unit_setting(unit, "Environment"), "ZAV_LAUNCHED_BY_SYSTEMD=1");
    EXPECT_GT(config.system.select_duration_sec, 10)
        << "the newest 10 s of a window are held back: a shorter window produces nothing at first";
    EXPECT_EQ(config.dw.host, "127.0.0.1") << "'localhost' would mean the client library's default socket";
}

TEST(example_config, every_key_is_documented_in_the_man_page_and_the_readme)
{
    const auto keys = sample_keys();
    ASSERT_EQ(keys.size(), 11u);
    const auto man_page = read_file(source_dir + "/docs/trackmend.1");
    const auto readme = read_file(source_dir + "/README.md");
    for (const auto& key : keys) {
        EXPECT_NE(man_page.find(key), std::string::npos) << key << " is missing from docs/trackmend.1";
        EXPECT_NE(readme.find("`" + key + "`"), std::string::npos) << key << " is missing from README.md";
    }
    for (const char* word :
         {"runner.bin", "database.bin", "ZAV_LAUNCHED_BY_SYSTEMD", "SIGTERM", "EXIT STATUS"})
        EXPECT_NE(man_page.find(word), std::string::npos) << word << " is missing from docs/trackmend.1";
}
