#pragma once

// Running other programs from the tests.

#include <string>

namespace trackmend_test {

// Runs _command through /bin/sh; returns its exit status (-1 when it did not
// exit normally) and appends its standard output to _output when given.
int run_command(const std::string& _command, std::string* _output = nullptr);

}  // namespace trackmend_test
