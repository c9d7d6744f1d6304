#pragma once

#include "core/timestamp.hpp"

#include <boost/optional.hpp>

namespace zav {

// The raw rows that one written piece read: those of (after, until],
// heartbeats excluded.
struct read_range
{
    libs::core::timestamp after, until;
    long long rows = 0;
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
