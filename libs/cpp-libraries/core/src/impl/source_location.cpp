#include "core/source_location.hpp"

#include "core/constants.hpp"

#include <algorithm>

namespace zav::libs::core {

source_location::source_location() : m_line(0), m_file("unknown file"), m_function("unknown function") {}

source_location::source_location(long _line, std::string_view _file, std::string_view _function)
    : m_line(_line), m_file(_file), m_function(_function)
{
}

std::string_view source_location::short_file() const { return remove_directory_prefix(m_file); }

std::string_view source_location::short_function() const
{
    const auto paren = m_function.find('(');
    if (paren == std::string_view::npos || m_function.size() < 5) return m_function;
    // The last "zav::" that starts at or before the parenthesis, searching from
    // no later than five characters before the end.
    const auto from = std::min(paren, m_function.size() - 5);
    const auto start = m_function.rfind("zav::", from);
    if (start == std::string_view::npos) return m_function;
    return m_function.substr(start, paren - start);
}

std::string_view source_location::remove_directory_prefix(std::string_view _path)
{
    _path.remove_prefix(std::min(constants::source_directory.size(), _path.size()));
    return _path;
}

}  // namespace zav::libs::core
