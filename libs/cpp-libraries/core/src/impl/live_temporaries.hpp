#pragma once

#include "core/file_system.hpp"

#include <functional>
#include <string>
#include <string_view>

namespace zav::libs::core::live_temporaries {

// The temporary files that writers of this process hold right now, across
// all its threads. A file is in the set from its creation until its writer
// renamed or removed it, and remove_leftovers() never takes one of them for a
// leftover. Every operation below holds one process-wide lock, so that no
// scan for leftovers sees a name between its creation and its entry in the
// set, nor removes a name that a writer has just freed and another taken.

// Creates _path through _fs (file_system::create_new) and enters it; returns
// the descriptor, or -1 with errno set.
int create(file_system& _fs, const std::string& _path);
// Renames _from to _to through _fs; on success _from leaves the set. Returns
// 0, or -1 with errno set.
int rename(file_system& _fs, const std::string& _from, const std::string& _to);
// Removes _path through _fs (errors ignored: the file may be gone) and takes
// it out of the set.
void remove(file_system& _fs, const std::string& _path);
// Removes each file of _directory whose name _is_leftover accepts, unless it
// is in the set.
void remove_unheld(const std::string& _directory, const std::function<bool(std::string_view)>& _is_leftover);

}  // namespace zav::libs::core::live_temporaries
