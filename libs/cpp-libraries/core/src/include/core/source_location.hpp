#pragma once

#include <string_view>

namespace zav::libs::core {

// A place in the source: line, file and the compiler's full function
// signature. The views refer to string literals, so a source_location never
// owns text and is freely copied.
class source_location
{
public:
    source_location();
    source_location(long _line, std::string_view _file, std::string_view _function);

    long line() const { return m_line; }
    std::string_view file() const { return m_file; }
    std::string_view function() const { return m_function; }

    // The file without the source directory, e.g. "/src/main.cpp".
    std::string_view short_file() const;
    // The qualified function name without return type and parameters,
    // e.g. "zav::libs::core::events_loop_impl::run".
    std::string_view short_function() const;

    // Removes as many leading characters as the source directory is long; the
    // characters are not compared.
    static std::string_view remove_directory_prefix(std::string_view _path);

private:
    long m_line;
    std::string_view m_file;
    std::string_view m_function;
};

}  // namespace zav::libs::core

#define CORE_SOURCE_LOCATION ::zav::libs::core::source_location(__LINE__, __FILE__, __PRETTY_FUNCTION__)
