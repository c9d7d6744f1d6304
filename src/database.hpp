#pragma once

#include "position.hpp"

#include <boost/optional.hpp>

#include <chrono>
#include <memory>

namespace zav {

// The position store: every access to the tables positions_raw (read) and
// positions (written) goes through this interface. Failures are thrown as
// zav::libs::core::exception.
class database
{
public:
    using ptr = std::unique_ptr<database>;
    using timestamp = zav::timestamp;

    virtual ~database() = default;

    // Completes a write that was interrupted (crash or failure) from the
    // pending-insert file, then removes the file.
    virtual void recover_if_failed() = 0;
    // Newest ts in positions, or none when the table is empty.
    virtual boost::optional<timestamp> get_last_position_timestamp() const = 0;
    // Oldest ts in positions_raw (all types), or none.
    virtual boost::optional<timestamp> get_first_raw_position_timestamp() const = 0;
    // Oldest ts in positions_raw later than _timestamp, heartbeats excluded.
    virtual boost::optional<timestamp> get_next_raw_position_timestamp(timestamp _timestamp) const = 0;
    // Raw positions with _from < ts <= _from + _duration, heartbeats excluded,
    // without the trailing run of the last row's whole second.
    virtual positions_vector get_raw_positions(timestamp _from, std::chrono::seconds _duration) const = 0;
    virtual void clear_positions_table() = 0;
    // Inserts all positions; crash-safe through the pending-insert file.
    virtual void write_positions(const positions_vector& _positions) = 0;
};

}  // namespace zav
