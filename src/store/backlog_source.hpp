#pragma once

#include <boost/optional.hpp>
#include <cstdint>
#include <memory>

#include "core/timestamp.hpp"

namespace zav {

// How much raw data waits behind the newest written time.
struct backlog
{
    // Rows beyond this many are estimated, not counted.
    static constexpr std::uint64_t count_limit = 250'000;

    std::uint64_t rows = 0;
    // The newest raw row's time; none when positions_raw is empty.
    boost::optional<libs::core::timestamp> newest_raw;
    // Extrapolated from the time span of the first count_limit rows.
    bool estimated = false;
};

class backlog_source
{
public:
    using ptr = std::unique_ptr<backlog_source>;
    virtual ~backlog_source() = default;
    // The raw rows later than _newest_written (heartbeats included: counting
    // them needs only the time index). None when it cannot be told now.
    virtual boost::optional<backlog> backlog_after(libs::core::timestamp _newest_written) noexcept = 0;
};

}  // namespace zav
