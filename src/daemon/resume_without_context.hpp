#pragma once

#include "position.hpp"

#include <chrono>

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
// time) those that the writer before did not write yet, given that it wrote
// everything up to _last: every position later than _last, and the
// synthetic positions at or before _last of gaps that close after _last (the
// writer before could not fill them). A position is synthetic when its
// trackable has no raw position at its time in _raw.
positions_vector positions_not_yet_written(const positions_vector& _processed, const positions_vector& _raw,
                                           const timestamp& _last);

}  // namespace zav
