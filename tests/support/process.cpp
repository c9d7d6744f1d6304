#include "support/process.hpp"

#include <sys/wait.h>

#include <cstdio>

namespace trackmend_test {

int run_command(const std::string& _command, std::string* _output)
{
    FILE* pipe = ::popen(_command.c_str(), "r");
    if (!pipe) return -1;
    char buffer[65536];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        if (_output) _output->append(buffer, n);
    const int status = ::pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace trackmend_test
