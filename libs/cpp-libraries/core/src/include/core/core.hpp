#pragma once

#include "core/events_loop.hpp"
#include "core/logger.hpp"

#include <memory>
#include <string>

namespace zav::libs::core {

// Root factory of the runtime library. The logger must outlive the core, and
// the core every loop it creates.
class core
{
public:
    using ptr = std::unique_ptr<core>;

    // A core that logs as the component "core" of _logger.
    static ptr create(const logger& _logger);

    virtual ~core() = default;

    // A new event loop; _name is for the caller's documentation only.
    virtual events_loop::ptr create_events_loop(const std::string& _name) = 0;
};

}  // namespace zav::libs::core
