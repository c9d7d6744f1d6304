#pragma once

#include "config.hpp"
#include "core/events_loop.hpp"
#include "core/logger.hpp"
#include "core/timestamp.hpp"

#include <optional>
#include <ostream>
#include <string>

namespace zav {

// A UTC time as the command line gives it: "YYYY-MM-DD HH:MM:SS" with an
// optional fraction of one to three digits; none when the text is anything
// else or names no real instant (month 13, February 30, hour 24).
std::optional<libs::core::timestamp> parse_utc_time(const std::string& _text);

// trackmend -c FILE --reprocess FROM TO: recomputes positions over [_from,
// _to] from the raw rows and replaces them, exactly as the daemon repairs
// late rows, range by range in transactions that lock the writer lease row
// (a running daemon waits for each, a few seconds at most). The range is
// clamped to the written time minus the look-back, beyond which the positions
// are still the daemon's to write. Prints one summary line on _out; returns
// the exit status. Failures are thrown; _signals ends the wait for the
// database.
int run_reprocess_command(const config& _config, const libs::core::logger& _logger,
                          const libs::core::events_loop::signals_handle& _signals,
                          libs::core::timestamp _from, libs::core::timestamp _to, std::ostream& _out);

}  // namespace zav
