#include <boost/algorithm/string/join.hpp>
#include <boost/type_index.hpp>
#include <vector>

#include "config_parser/config.hpp"

namespace zav::libs::config {

namespace {

template <typename T>
std::string type_name()
{
    if constexpr (std::is_same_v<T, std::string>)
        return "string";
    else
        return boost::typeindex::type_id<T>().pretty_name();
}

}  // namespace

template <typename T>
result<T> config::get_by_path(const std::initializer_list<std::string>& _path) const
{
    const std::string full = boost::algorithm::join(_path, ".");
    const std::vector<std::string> names(_path);
    if (names.empty()) return error_reason{"Can not find field <" + type_name<T>() + ">: " + full};
    const std::string& last = names.back();

    boost::optional<T> found;
    if (names.size() == 1) {
        found = get<T>(last);
    } else {
        boost::optional<const dictionary&> current = get<const dictionary&>(names.front());
        std::size_t reached = 1;
        while (current && reached + 1 < names.size())
            current = current->get<const dictionary&>(names[reached++]);
        if (!current) {
            const std::vector<std::string> failed(names.begin(),
                                                  names.begin() + static_cast<std::ptrdiff_t>(reached));
            return error_reason{"Can not find object <object>: " + boost::algorithm::join(failed, ".") +
                                ", path: " + full};
        }
        found = current->get<T>(last);
    }
    if (found) return *found;
    return error_reason{"Can not find field <" + type_name<T>() + ">: " + full};
}

template result<std::string> config::get_by_path<std::string>(
    const std::initializer_list<std::string>&) const;
template result<int> config::get_by_path<int>(const std::initializer_list<std::string>&) const;
template result<bool> config::get_by_path<bool>(const std::initializer_list<std::string>&) const;

}  // namespace zav::libs::config
