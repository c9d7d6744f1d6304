#pragma once

#include <string>
#include <vector>

#include "daemon/backlog_source.hpp"
#include "mariadb++/connection.hpp"

namespace zav {

// Reads the backlog over a connection of its own, so that progress reports
// never disturb the store's session or its transactions. Connects on first
// use; a failure drops the connection and yields nothing, and the next call
// connects again.
class backlog_reader_impl : public backlog_source
{
public:
    // _accounts (one per node) are tried in order, as the store tries them.
    explicit backlog_reader_impl(std::vector<mariadb::account_ref> _accounts);

    boost::optional<backlog> backlog_after(libs::core::timestamp _newest_written) noexcept override;

private:
    std::vector<mariadb::account_ref> m_accounts;
    mariadb::connection_ref m_connection;
};

}  // namespace zav
