#include "support/files.hpp"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace trackmend_test {

std::string read_file(const std::filesystem::path& _path)
{
    std::ifstream in(_path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void write_file(const std::filesystem::path& _path, const std::string& _content)
{
    std::ofstream(_path, std::ios::binary | std::ios::trunc) << _content;
}

temporary_directory::temporary_directory(const std::string& _prefix)
{
    std::string pattern = (std::filesystem::temp_directory_path() / (_prefix + ".XXXXXX")).string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed for " + pattern);
    m_path = pattern;
}

temporary_directory::~temporary_directory()
{
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

}  // namespace trackmend_test
