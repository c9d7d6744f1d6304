#pragma once

#include "config.hpp"
#include "core/events_loop.hpp"
#include "core/logger.hpp"
#include "daemon/service_notifier.hpp"

namespace zav {

// The daemon's first contact with its database, before anything else uses
// it: connects to the first node of the configuration that serves and checks
// that the account holds every right the daemon needs (check_account_rights).
//
// A server that cannot be reached is waited for: the attempt is repeated
// every 5 s, failures are logged rate-limited (the first in full, then once a
// minute) and the status line says "database unreachable since T,
// retrying". After the first such failure the service manager is told that
// the daemon is ready, so that starting it does not block for the length of
// an outage. A refusal that waiting cannot mend (the account, the database,
// a missing table or right, TLS) is thrown at once as "Cannot start: ...";
// so is "Interrupted" when a termination signal ends the wait.
void check_database_at_start(const config& _config, const libs::core::events_loop::signals_handle& _signals,
                             libs::core::logger& _logger, service_notifier& _notifier);

}  // namespace zav
