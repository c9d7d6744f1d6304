#pragma once

#include <string>

namespace zav {

// Continuous mode (the daemon): not built yet.
int run_continuous_mode(const std::string& _config_file_name);

}  // namespace zav
