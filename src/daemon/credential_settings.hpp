#pragma once

#include "config_parser/config.hpp"
#include "config_parser/result.hpp"

#include "mariadb++/account.hpp"

#include <boost/optional.hpp>
#include <string>

namespace zav {

// The file a setting names. An absolute path stands as it is. A relative
// one is taken within $CREDENTIALS_DIRECTORY, where the service manager puts
// the unit's credentials (LoadCredential=), so that each instance of a unit
// reads its own secret; without that variable a relative path is an error,
// since the daemon's working directory is nobody's choice.
libs::config::result<std::string> credential_path(const std::string& _setting, const std::string& _path);

struct password_setting
{
    std::string password;
    // The file it was read from; empty when the password stands in the
    // configuration itself.
    std::string file;
};

// "dw"/"password" or "dw"/"password_file", exactly one of them. The file's
// first line, without its line break, is the password.
libs::config::result<password_setting> read_password_setting(const libs::config::config& _document);

// The optional "dw"/"tls" object: "ca_file" (required), "cert_file" and
// "key_file" (both or neither) and "verify_server_certificate" (a boolean,
// true unless given). Each path as credential_path resolves it. None when
// the document has no such key; otherwise the settings, or one error line
// per problem.
boost::optional<libs::config::result<mariadb::tls_settings>> read_tls_setting(
    const libs::config::config& _document);

}  // namespace zav
