#include "client_thread.hpp"

#include "mariadb++/exceptions.hpp"

#include <mysql.h>

namespace mariadb {

namespace {

struct library
{
    library()
    {
        if (mysql_library_init(0, nullptr, nullptr) != 0)
            throw exception::connection(0, "Cannot initialise the client library.");
    }
};

// One per thread that used the client library; its end runs on that thread
// as the thread exits.
struct thread_registration
{
    thread_registration()
    {
        if (mysql_thread_init() != 0)
            throw exception::connection(0, "Cannot initialise the client library for this thread.");
    }
    ~thread_registration() { mysql_thread_end(); }
    thread_registration(const thread_registration&) = delete;
    thread_registration& operator=(const thread_registration&) = delete;
};

}  // namespace

void enter_client_thread()
{
    // Both are initialised once, thread-safely; a failure is thrown and the
    // next call tries again.
    static const library process_wide;
    thread_local const thread_registration this_thread;
}

}  // namespace mariadb
