#pragma once

#include <string>

namespace zav::libs::core {

// Guards against a second daemon: refuses to go on while another process
// holds the lock on the PID file, and otherwise records the caller's id there
// as bare decimal text. The lock alone decides: a daemon holds it while it
// runs, so a file whose lock can be taken was left by a process that has
// ended, whatever id it records (ids are reused).
//
// On success the calling process holds an exclusive advisory lock (flock) on
// the file until it ends: the descriptor is deliberately never closed. It is
// opened close-on-exec, so programs the daemon executes do not keep the lock,
// while children it forks share it. The file is never deleted; content left
// by a process that has ended is stale and overwritten.
//
// Throws zav::libs::core::exception with "Process is running",
// "write_pid: flock(): <system error>",
// "Error opening pid-file!" or "write_pid: write(): <system error>". A refused
// call leaves the file exactly as it was.
void write_pid(const std::string& _pid_file_name);

namespace detail {

// Returns normally when no running daemon holds the file: no file, a file
// that cannot be opened, or one whose lock could be taken (then kept).
// Throws "Process is running" when another process holds the lock.
void check_pid(const std::string& _pid_file_name);

// Replaces the file's content with the caller's process id, under the lock
// taken by check_pid (or taken here when check_pid could not take it).
void write_pid(const std::string& _pid_file_name);

}  // namespace detail

}  // namespace zav::libs::core
