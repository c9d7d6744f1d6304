#pragma once

#include "config_parser/config.hpp"

#include <string>
#include <vector>

namespace zav {

// One warning per key of the daemon's configuration that no version of the
// daemon reads, naming the nearest known key of the same object: "unknown
// key 'system.max_latenes_sec' (did you mean 'system.max_lateness_sec'?):
// ignored". A misspelt optional key would otherwise be ignored without a
// word and its default used.
std::vector<std::string> unknown_key_warnings(const libs::config::config& _document);

}  // namespace zav
