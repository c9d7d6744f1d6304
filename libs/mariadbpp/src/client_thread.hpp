#pragma once

namespace mariadb {

// The client library wants mysql_library_init() once per process before any
// thread uses it, and on every thread that uses it mysql_thread_init() first
// and mysql_thread_end() before the thread exits. Called first by every
// operation of a connection: the first call of the process initialises the
// library, the first call of a thread initialises the thread, and the end
// follows when that same thread exits, however many connections it opened
// or closed and whichever thread created them.
void enter_client_thread();

}  // namespace mariadb
