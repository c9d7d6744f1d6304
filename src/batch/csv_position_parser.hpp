#pragma once

#include "pipeline/position_record.hpp"
#include "position.hpp"

#include <optional>
#include <string_view>
#include <vector>

namespace zav {

// Parsers of the pipe-separated batch input. They keep the semantics of the
// C library calls the format was defined with (std::stoi for numbers, sscanf
// "%d-%d-%d %d:%d:%fZ" and timegm for times) without their cost: no stream,
// no allocation except the position's own strings.

// The leading integer of _text as std::stoi reads it in base 10: leading white
// space and one sign allowed, at least one digit, trailing characters
// ignored. Empty when there is no digit or the value does not fit an int.
std::optional<int> parse_stoi_like(std::string_view _text);

// A time "YYYY-MM-DD hh:mm:ss.fff" read as UTC. Each number may carry leading
// white space and a sign, the blank may be any run of white space, anything
// after the seconds is ignored. The seconds are a 32-bit float: whole seconds
// truncated toward zero, milliseconds = roundf(fraction * 1000) in single
// precision, so a fraction that rounds to 1000 ms gives the next second.
// Out-of-range fields are normalised as timegm does (month 13 is January of
// the next year). Empty when the text does not parse or the instant lies
// before 1970 (a zero date 0000-00-00 among them) or after the year 9999.
std::optional<timestamp> parse_csv_timestamp(std::string_view _text);

// What an input line is: a position; a line of another kind (field 9 is there
// and is not exactly "UWB", as for heartbeats); or malformed (too few fields,
// a time that does not parse or lies outside the years 1970 to 9999, a number
// field that is neither "\N" nor a number).
enum class csv_line { position, other_kind, malformed };

// One input line (without its line end) as a position, or empty when the line
// is no position. trackable_id stays 0; anything after a sixteenth field is
// ignored.
std::optional<position> parse_csv_position(std::string_view _line);

// The same, appended to _positions when the line is not skipped; true then.
// The batch reader's way: the position is built in its final place.
bool append_csv_position(std::string_view _line, positions_vector& _positions);

// The same as a record, its texts numbered in _strings: no string is copied
// for a text _strings knows already; appended only when the line is a
// position. Batch mode's way.
csv_line append_csv_record(std::string_view _line, record_strings& _strings,
                           std::vector<position_record>& _records);

}  // namespace zav
