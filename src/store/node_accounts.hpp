#pragma once

#include "store/node_address.hpp"

#include "mariadb++/account.hpp"

#include <optional>
#include <string>
#include <vector>

namespace zav {

// One account per node, in the order of _nodes, all with the same user,
// password, schema and TLS settings (none: plain text).
std::vector<mariadb::account_ref> node_accounts(const node_addresses& _nodes, const std::string& _user_name,
                                                const std::string& _password, const std::string& _schema,
                                                const std::optional<mariadb::tls_settings>& _tls);

}  // namespace zav
