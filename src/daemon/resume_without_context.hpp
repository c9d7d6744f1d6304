#pragma once

#include "position.hpp"

#include <chrono>
#include <map>
#include <string>

namespace zav {

// Resuming where positions ends without the carry-over context of that
// point: after another daemon wrote up to it (a take-over of the writer
// lease) or when runner.bin was lost. The window is then read from this much
// earlier and processed from an empty context, so that the look-back of the
// median and of the gap filler, and the held-back part, are rebuilt from the
// raw rows: the carry-over spans at most the 10 s hold-back, and a gap to
// fill at most 5 s more.
constexpr std::chrono::seconds resume_look_back{30};

// Of the positions processed from such a window (_processed, ascending by
// time) those that the writer before may not have written yet, given that it
// wrote everything before _last: every position at or later than _last, and
// the synthetic positions before _last of gaps that close after _last (the
// writer before could not fill them). A position is synthetic when its
// trackable has no raw position at its time in _raw. Those at _last are
// candidates only: the writer before cut its batches by row count, not by
// time, so it may have written some trackables' rows at _last and not
// others'; drop_present_at() keeps exactly the missing ones.
positions_vector positions_not_yet_written(const positions_vector& _processed, const positions_vector& _raw,
                                           const timestamp& _last);

// Removes from _positions (ascending by time) the positions at _last that
// positions holds already: per trackable uid, the first _present[uid] of its
// positions at _last, since a writer writes a batch's rows in order.
// Duplicated raw rows count as often as they occur.
void drop_present_at(positions_vector& _positions, const timestamp& _last,
                     std::map<std::string, long long> _present);

}  // namespace zav
