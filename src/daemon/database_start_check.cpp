#include "daemon/database_start_check.hpp"

#include "daemon/account_rights.hpp"
#include "daemon/progress_reporter.hpp"
#include "store/located_errors.hpp"
#include "store/node_accounts.hpp"
#include "store/retry_until_signalled.hpp"
#include "store/store_error.hpp"

#include "mariadb++/connection.hpp"

namespace zav {

void check_database_at_start(const config& _config, const libs::core::events_loop::signals_handle& _signals,
                             libs::core::logger& _logger, service_notifier& _notifier)
{
    const auto& dw = _config.dw;
    const node_addresses nodes = dw.hosts.empty() ? node_addresses{{dw.host, dw.port}} : dw.hosts;
    const auto accounts = node_accounts(nodes, dw.user, dw.password, dw.database, dw.tls);

    // Reports failures as the runs do, without a backlog to tell of.
    progress_reporter reporter(_logger, _notifier, nullptr);
    bool told_ready = false;
    _notifier.status("connecting to the database");
    retry_until_signalled(
        _logger, _signals, CORE_SOURCE_LOCATION,
        [&] {
            with_located_errors(CORE_SOURCE_LOCATION, [&] {
                const auto connection = mariadb::connection::create(accounts);
                connection->connect();
                for (const auto& right : check_account_rights(*connection, _config.system.repair_late_rows))
                    if (!right.ok)
                        throw store_error(store_failure::refused, right.text, CORE_SOURCE_LOCATION,
                                          right.error_number);
            });
        },
        [&](const std::string& _error, store_failure _kind) {
            reporter.run_failed(_error, _kind);
            if (!told_ready) _notifier.ready();
            told_ready = true;
        });
}

}  // namespace zav
