// The shipped sample configuration, the systemd unit and the documentation
// must agree: the package installs the sample as the unit's configuration,
// and the unit makes everything but its own directories read-only.

#include <gtest/gtest.h>
#include <json/json.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "config.hpp"
#include "support/files.hpp"

namespace {

std::string read_file(const std::string& _name)
{
    const std::string text = trackmend_test::read_file(std::string(TRACKMEND_SOURCE_DIR) + "/" + _name);
    EXPECT_FALSE(text.empty()) << "cannot read " << _name;
    return text;
}

// The value of the first line "_key=..." of a systemd unit, or "".
std::string unit_setting(const std::string& _unit, const std::string& _key)
{
    std::istringstream lines(_unit);
    for (std::string line; std::getline(lines, line);)
        if (line.rfind(_key + "=", 0) == 0) return line.substr(_key.size() + 1);
    return "";
}

}  // namespace

TEST(example_config, is_valid_fits_the_systemd_unit_and_is_documented)
{
    const auto sample = read_file("examples/trackmend.json");
    std::istringstream stream(sample);
    const zav::config config(stream);  // throws on any invalid setting

    const auto unit = trackmend_test::read_file(TRACKMEND_BINARY_DIR "/packaging/trackmend.service");
    EXPECT_EQ(config.system.persistent_data_dir, "/var/lib/" + unit_setting(unit, "StateDirectory"))
        << "the state files must lie in the unit's StateDirectory, the only writable place besides /run";
    EXPECT_EQ(std::filesystem::path(config.system.pidfile_path).parent_path(),
              "/run/" + unit_setting(unit, "RuntimeDirectory"))
        << "the PID file must lie in the unit's RuntimeDirectory";
    EXPECT_TRUE(
        unit_setting(unit, "ExecStart").ends_with("/bin/trackmend -c /etc/trackmend/trackmend.json") ||
        unit_setting(unit, "ExecStart")
            .ends_with("/bin/trackmend -c /usr/local/etc/trackmend/trackmend.json"))
        << unit_setting(unit, "ExecStart");

    // One instance per site: its own configuration, state and PID file.
    const auto site_unit = trackmend_test::read_file(TRACKMEND_BINARY_DIR "/packaging/trackmend@.service");
    EXPECT_TRUE(unit_setting(site_unit, "ExecStart").ends_with("/trackmend/%i.json"));
    EXPECT_EQ(unit_setting(site_unit, "StateDirectory"), "trackmend/%i");
    EXPECT_EQ(unit_setting(site_unit, "RuntimeDirectory"), "trackmend-%i");
    EXPECT_EQ(unit_setting(site_unit, "Type"), "notify");
    EXPECT_EQ(unit_setting(unit, "Environment"), "ZAV_LAUNCHED_BY_SYSTEMD=1");
    EXPECT_GT(config.system.select_duration_sec, 10)
        << "the newest 10 s of a window are held back: a shorter window produces nothing at first";
    EXPECT_EQ(config.dw.host, "127.0.0.1") << "'localhost' would mean the client library's default socket";

    Json::Value document;
    stream.clear();
    stream.seekg(0);
    stream >> document;
    const auto man_page = read_file("docs/trackmend.1");
    const auto readme = read_file("README.md");
    int keys = 0;
    for (const auto& object : document.getMemberNames())
        for (const auto& name : document[object].getMemberNames()) {
            const auto key = object + "." + name;
            ++keys;
            EXPECT_NE(man_page.find(key), std::string::npos) << key << " is missing from docs/trackmend.1";
            EXPECT_NE(readme.find("`" + key + "`"), std::string::npos) << key << " is missing from README.md";
        }
    EXPECT_EQ(keys, 11);
    for (const char* word :
         {"runner.bin", "database.bin", "ZAV_LAUNCHED_BY_SYSTEMD", "SIGTERM", "EXIT STATUS"})
        EXPECT_NE(man_page.find(word), std::string::npos) << word << " is missing from docs/trackmend.1";
}
