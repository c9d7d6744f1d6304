#include "store/node_accounts.hpp"

namespace zav {

std::vector<mariadb::account_ref> node_accounts(const node_addresses& _nodes, const std::string& _user_name,
                                                const std::string& _password, const std::string& _schema,
                                                const std::optional<mariadb::tls_settings>& _tls)
{
    std::vector<mariadb::account_ref> accounts;
    for (const auto& node : _nodes) {
        accounts.push_back(
            mariadb::account::create(node.host, _user_name, _password, _schema, node.port, ""));
        accounts.back()->set_tls(_tls);
    }
    return accounts;
}

}  // namespace zav
