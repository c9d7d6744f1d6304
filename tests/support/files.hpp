#pragma once

// Small file helpers shared by the tests.

#include <filesystem>
#include <string>

namespace trackmend_test {

// The whole content of a file, bytes unchanged; "" when it cannot be read.
std::string read_file(const std::filesystem::path& _path);
// Creates or replaces the file with exactly _content.
void write_file(const std::filesystem::path& _path, const std::string& _content);

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes.
class temporary_directory
{
public:
    explicit temporary_directory(const std::string& _prefix = "trackmend_test");
    temporary_directory(const temporary_directory&) = delete;
    temporary_directory& operator=(const temporary_directory&) = delete;
    ~temporary_directory();

    const std::filesystem::path& path() const { return m_path; }
    std::filesystem::path operator/(const std::string& _name) const { return m_path / _name; }

private:
    std::filesystem::path m_path;
};

}  // namespace trackmend_test
