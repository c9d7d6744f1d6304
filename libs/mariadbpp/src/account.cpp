#include "mariadb++/account.hpp"

namespace mariadb {

account_ref account::create(const std::string& _host_name, const std::string& _user_name,
                            const std::string& _password, const std::string& _schema, u32 _port,
                            const std::string& _unix_socket)
{
    return std::make_shared<account>(private_tag{}, _host_name, _user_name, _password, _schema, _port,
                                     _unix_socket);
}

account::account(private_tag, const std::string& _host_name, const std::string& _user_name,
                 const std::string& _password, const std::string& _schema, u32 _port,
                 const std::string& _unix_socket)
    : m_port(_port),
      m_host_name(_host_name),
      m_user_name(_user_name),
      m_password(_password),
      m_schema(_schema),
      m_unix_socket(_unix_socket)
{
}

}  // namespace mariadb
