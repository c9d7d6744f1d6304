#include "daemon/credential_settings.hpp"

#include "config_parser/dictionary.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <vector>

namespace zav {

namespace {

using libs::config::dictionary;
using libs::config::error_reason;
using libs::config::result;

// The error lines of several settings as one reason.
error_reason joined(const std::vector<std::string>& _lines)
{
    std::string text;
    for (const auto& line : _lines) text += (text.empty() ? "" : "\n") + line;
    return error_reason{text};
}

}  // namespace

result<std::string> credential_path(const std::string& _setting, const std::string& _path)
{
    if (_path.empty()) return error_reason{"'" + _setting + "' must not be empty"};
    if (_path.front() == '/') return result<std::string>(_path);
    const char* credentials = std::getenv("CREDENTIALS_DIRECTORY");
    if (credentials == nullptr || *credentials == '\0')
        return error_reason{"'" + _setting +
                            "' must be an absolute path, or a credential name when "
                            "$CREDENTIALS_DIRECTORY is set (LoadCredential=): " +
                            _path};
    return result<std::string>(std::string(credentials) + "/" + _path);
}

result<password_setting> read_password_setting(const libs::config::config& _document)
{
    const auto dw = _document.get<const dictionary&>("dw");
    const bool in_file = dw && dw->get_value("password_file");
    if (in_file && dw->get_value("password"))
        return error_reason{"give 'dw.password' or 'dw.password_file', not both"};
    if (!in_file) {
        // Read as every required setting, so that its absence is reported
        // alike.
        const auto password = _document.get_by_path<std::string>({"dw", "password"});
        if (!password.ok()) return error_reason{password.reason()};
        return result<password_setting>(password_setting{password.value(), ""});
    }
    const auto name = dw->get<std::string>("password_file");
    if (!name) return error_reason{"'dw.password_file' must be a string"};
    const auto path = credential_path("dw.password_file", *name);
    if (!path.ok()) return error_reason{path.reason()};

    std::ifstream file(path.value());
    std::string password;
    if (!file || (!std::getline(file, password) && !file.eof()))
        return error_reason{"'dw.password_file' cannot be read: " + path.value() + ": " +
                            std::strerror(errno)};
    if (!password.empty() && password.back() == '\r') password.pop_back();
    return result<password_setting>(password_setting{password, path.value()});
}

boost::optional<result<mariadb::tls_settings>> read_tls_setting(const libs::config::config& _document)
{
    const auto dw = _document.get<const dictionary&>("dw");
    if (!dw) return boost::none;
    const auto setting = dw->get_value("tls");
    if (!setting) return boost::none;
    const auto tls = setting->as_object();
    if (!tls)
        return result<mariadb::tls_settings>(error_reason{"'dw.tls' must be an object with \"ca_file\""});

    mariadb::tls_settings settings;
    std::vector<std::string> errors;
    const auto path = [&](const char* _key, bool _required, std::string& _into) {
        const std::string name = std::string("dw.tls.") + _key;
        const auto value = tls->get_value(_key);
        if (!value) {
            if (_required)
                errors.push_back("'" + name + "' is required: the certificate authority's PEM file");
            return;
        }
        const auto text = value->as_string();
        if (!text) {
            errors.push_back("'" + name + "' must be a string");
            return;
        }
        const auto resolved = credential_path(name, *text);
        if (resolved.ok())
            _into = resolved.value();
        else
            errors.push_back(resolved.reason());
    };
    path("ca_file", true, settings.ca_file);
    path("cert_file", false, settings.cert_file);
    path("key_file", false, settings.key_file);
    if (tls->get_value("cert_file").has_value() != tls->get_value("key_file").has_value())
        errors.push_back("'dw.tls.cert_file' and 'dw.tls.key_file' go together: give both or neither");
    if (const auto verify = tls->get_value("verify_server_certificate")) {
        if (const auto flag = verify->as_bool())
            settings.verify_server_certificate = *flag;
        else
            errors.push_back("'dw.tls.verify_server_certificate' must be true or false");
    }
    if (!errors.empty()) return result<mariadb::tls_settings>(joined(errors));
    return result<mariadb::tls_settings>(std::move(settings));
}

}  // namespace zav
