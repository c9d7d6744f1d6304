#pragma once

#include <string>

namespace zav::libs::core {

// Guards against a second daemon: refuses to go on while another process
// holds the PID file or the process recorded in it is alive, and otherwise
// records the caller's id there as bare decimal text.
//
// On success the calling process holds an exclusive advisory lock (flock) on
// the file until it ends: the descriptor is deliberately never closed. It is
// opened close-on-exec, so programs the daemon executes do not keep the lock,
// while children it forks share it. The file is never deleted; content left
// by a process that has ended is stale and overwritten.
//
// Throws zav::libs::core::exception with "Process is running",
// "write_pid: kill(): <system error>", "write_pid: flock(): <system error>",
// "Error opening pid-file!" or "write_pid: write(): <system error>". A refused
// call leaves the file exactly as it was.
void write_pid(const std::string& _pid_file_name);

namespace detail {

// Returns normally when no live process is recorded: no file, an unreadable
// file, or content that is no positive process id, the caller's own id, or
// the id of a process that no longer exists. Takes the lock when it can open
// the file and keeps it on success; throws "Process is running" when another
// process holds it or the recorded process is alive.
void check_pid(const std::string& _pid_file_name);

// Replaces the file's content with the caller's process id, under the lock
// taken by check_pid (or taken here when check_pid could not take it).
void write_pid(const std::string& _pid_file_name);

}  // namespace detail

}  // namespace zav::libs::core
