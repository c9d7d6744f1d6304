#pragma once

#include "mariadb++/types.hpp"

#include <memory>
#include <optional>
#include <string>
#include <utility>

namespace mariadb {

class account;
using account_ref = std::shared_ptr<account>;

// TLS for the connection to the server. With these settings a connection
// that cannot be encrypted fails instead of falling back to plain text.
struct tls_settings
{
    // PEM file of the certificate authorities that may sign the server's
    // certificate; required.
    std::string ca_file;
    // The client's own certificate and key (PEM), for servers that ask for
    // one; both or neither.
    std::string cert_file;
    std::string key_file;
    // Whether the server's certificate must be signed by ca_file and name the
    // host connected to. Off only for tests and servers reached through a
    // tunnel: the connection is then encrypted but its peer is not verified.
    bool verify_server_certificate = true;
};

// The parameters of a connection. An empty unix socket means TCP to the host
// and port; an empty schema selects none.
class account
{
    struct private_tag
    {
    };

public:
    static account_ref create(const std::string& _host_name, const std::string& _user_name,
                              const std::string& _password, const std::string& _schema, u32 _port,
                              const std::string& _unix_socket);

    account(private_tag, const std::string& _host_name, const std::string& _user_name,
            const std::string& _password, const std::string& _schema, u32 _port,
            const std::string& _unix_socket);
    virtual ~account() = default;

    const std::string& host_name() const { return m_host_name; }
    const std::string& user_name() const { return m_user_name; }
    const std::string& password() const { return m_password; }
    const std::string& schema() const { return m_schema; }
    const std::string& unix_socket() const { return m_unix_socket; }
    u32 port() const { return m_port; }
    bool auto_commit() const { return m_auto_commit; }
    // True: results are fetched whole into client memory; false: streamed.
    bool store_result() const { return m_store_result; }

    // The TLS settings, or none for a plain-text connection.
    const std::optional<tls_settings>& tls() const { return m_tls; }

    void set_auto_commit(bool _auto_commit) { m_auto_commit = _auto_commit; }
    void set_tls(std::optional<tls_settings> _tls) { m_tls = std::move(_tls); }
    void set_store_result(bool _store_result) { m_store_result = _store_result; }

private:
    bool m_auto_commit = true;
    bool m_store_result = true;
    u32 m_port;
    std::string m_host_name;
    std::string m_user_name;
    std::string m_password;
    std::string m_schema;
    std::string m_unix_socket;
    std::optional<tls_settings> m_tls;
};

}  // namespace mariadb
