#pragma once

#include <string>

#include "daemon/backlog_source.hpp"
#include "mariadb++/account.hpp"
#include "mariadb++/connection.hpp"

namespace zav {

// Reads the backlog over a connection of its own, so that progress reports
// never disturb the store's session or its transactions. Connects on first
// use; a failure drops the connection and yields nothing, and the next call
// connects again.
class backlog_reader_impl : public backlog_source
{
public:
    backlog_reader_impl(const std::string& _host_name, const std::string& _user_name,
                        const std::string& _password, const std::string& _schema, unsigned int _port);

    boost::optional<backlog> backlog_after(libs::core::timestamp _newest_written) noexcept override;

private:
    mariadb::account_ref m_account;
    mariadb::connection_ref m_connection;
};

}  // namespace zav
