#include "daemon/unknown_keys.hpp"

#include "config_parser/dictionary.hpp"

#include <algorithm>
#include <map>
#include <numeric>

namespace zav {

namespace {

using libs::config::dictionary;

// The keys each object of the file may hold, by the object's path.
const std::map<std::string, std::vector<std::string>>& known_keys()
{
    static const std::map<std::string, std::vector<std::string>> keys{
        {"", {"dw", "system"}},
        {"dw", {"host", "port", "hosts", "user", "password", "password_file", "database", "tls"}},
        {"dw.tls", {"ca_file", "cert_file", "key_file", "verify_server_certificate"}},
        {"system",
         {"persistent_data_dir", "pidfile", "debug", "timer_period_sec", "select_duration_sec",
          "insert_piece_size", "max_lateness_sec", "late_horizon_sec", "repair_late_rows"}},
    };
    return keys;
}

// Edits (insertions, deletions, substitutions) that turn _a into _b.
std::size_t edit_distance(const std::string& _a, const std::string& _b)
{
    std::vector<std::size_t> row(_b.size() + 1);
    std::iota(row.begin(), row.end(), 0);
    for (std::size_t i = 1; i <= _a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= _b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (_a[i - 1] == _b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[_b.size()];
}

std::string joined(const std::string& _path, const std::string& _key)
{
    return _path.empty() ? _key : _path + "." + _key;
}

void check_object(const dictionary& _object, const std::string& _path, std::vector<std::string>& _warnings)
{
    const auto& known = known_keys().at(_path);
    for (const auto& key : _object.get_keys()) {
        if (std::find(known.begin(), known.end(), key) == known.end()) {
            const auto nearest =
                std::min_element(known.begin(), known.end(), [&](const auto& _a, const auto& _b) {
                    return edit_distance(key, _a) < edit_distance(key, _b);
                });
            _warnings.push_back("unknown key '" + joined(_path, key) + "' (did you mean '" +
                                joined(_path, *nearest) + "'?): ignored");
            continue;
        }
        const std::string path = joined(_path, key);
        if (!known_keys().count(path)) continue;
        if (const auto inner = _object.get_value(key))
            if (const auto object = inner->as_object()) check_object(*object, path, _warnings);
    }
}

}  // namespace

std::vector<std::string> unknown_key_warnings(const libs::config::config& _document)
{
    std::vector<std::string> warnings;
    check_object(_document.get_root(), "", warnings);
    return warnings;
}

}  // namespace zav
