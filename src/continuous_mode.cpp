#include "continuous_mode.hpp"

#include <iostream>

namespace zav {

int run_continuous_mode(const std::string&)
{
    std::cerr << "trackmend: continuous mode (-c) is not built yet\n";
    return 1;
}

}  // namespace zav
