#pragma once

#include "core/logger.hpp"
#include "core/timestamp.hpp"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace zav {

struct failure_series_clocks
{
    std::function<std::chrono::steady_clock::time_point()> steady = [] {
        return std::chrono::steady_clock::now();
    };
    std::function<libs::core::timestamp()> wall = [] { return libs::core::timestamp::current_time(); };
};

// A series of failed attempts at the same work, logged so that a failure
// repeated every few seconds does not fill the log: the first failure in
// full, then at most once per reminder interval "Still failing: N failed
// attempts since T, the last one: ...", and "Working again after N failed
// attempts since T" when an attempt succeeds. Single-threaded.
class failure_series
{
public:
    using steady_clock = std::chrono::steady_clock;
    using timestamp = libs::core::timestamp;

    using clocks = failure_series_clocks;

    explicit failure_series(std::chrono::milliseconds _reminder = std::chrono::seconds(60),
                            clocks _clocks = {});

    // Logs _error at error level as described above.
    void failed(const libs::core::component_logger& _logger, const std::string& _error);
    // Ends the series, if any.
    void succeeded(const libs::core::component_logger& _logger);

    std::uint64_t attempts() const { return m_attempts; }
    // When the series began; valid while attempts() is not 0.
    const timestamp& since() const { return m_since; }

private:
    std::chrono::milliseconds m_reminder;
    clocks m_clocks;
    std::uint64_t m_attempts = 0;
    timestamp m_since;
    steady_clock::time_point m_last_reminder;
};

// The first line of _text.
std::string first_line(const std::string& _text);

}  // namespace zav
