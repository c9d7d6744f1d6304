#pragma once

#include "core/timestamp.hpp"

#include <boost/optional.hpp>

#include <optional>

namespace zav {

// The raw rows that one written piece read: those of (after, until],
// heartbeats excluded.
struct read_range
{
    libs::core::timestamp after, until;
    long long rows = 0;
    // Set for the first piece written into an empty positions: the time
    // from here to `after`, where no raw row was, counts as read too, so
    // that rows that arrive there later are found late.
    std::optional<libs::core::timestamp> read_before_from;
};

// One range of the read ledger: the raw rows read when it was written, and
// those found late in it since and not yet processed.
struct ledger_range
{
    libs::core::timestamp after, until;
    long long read_rows = 0, late_rows = 0;
};

// What replacing the positions of a range did.
struct replaced_positions
{
    long long removed = 0, written = 0;
};

// Raw rows found late by one look: how many, and the times of the oldest and
// newest ledger ranges they lie in.
struct late_rows
{
    long long rows = 0;
    boost::optional<libs::core::timestamp> after, until;
};

}  // namespace zav
