#pragma once

#include <boost/optional.hpp>
#include <string>
#include <vector>

#include "config_parser/value.hpp"

namespace zav::libs::config {

// A read-only mapping from member name to value. Keys compare exactly
// (case-sensitive, byte-wise).
class dictionary
{
public:
    virtual ~dictionary() = default;

    // Empty when the key is absent; a member whose value is null is present.
    virtual boost::optional<const value&> get_value(const std::string& _key) const = 0;
    // Every key, in ascending std::string order (not in file order).
    virtual std::vector<std::string> get_keys() const = 0;

    // Empty when the key is absent or its value is not of kind T.
    template <typename T>
    boost::optional<T> get(const std::string& _key) const
    {
        const auto found = get_value(_key);
        if (!found) return boost::none;
        return found->template get<T>();
    }

protected:
    dictionary() = default;
    dictionary(const dictionary&) = default;
    dictionary(dictionary&&) = default;
    dictionary& operator=(const dictionary&) = default;
    dictionary& operator=(dictionary&&) = default;
};

}  // namespace zav::libs::config
