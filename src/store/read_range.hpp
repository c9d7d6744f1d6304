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

// Raw rows found late by one look: how many, and the times of the oldest and
// newest ledger ranges they lie in.
struct late_rows
{
    long long rows = 0;
    boost::optional<libs::core::timestamp> after, until;
};

}  // namespace zav
