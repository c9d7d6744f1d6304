#pragma once

#include <string>

// Build constants of the core library. Written once before main() runs and
// only read afterwards.
namespace zav::libs::core::constants {

extern const std::string git_version;
extern const std::string git_subversion;
extern const std::string library_name;
extern const std::string project_name;
// Absolute root of the source tree, without a trailing slash; stripped from
// compiler file names so that log lines show paths like /src/main.cpp.
extern const std::string source_directory;

}  // namespace zav::libs::core::constants
