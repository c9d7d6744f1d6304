#pragma once

#include <boost/optional.hpp>
#include <initializer_list>
#include <istream>
#include <memory>
#include <string>

#include "config_parser/dictionary.hpp"
#include "config_parser/result.hpp"
#include "config_parser/value.hpp"

namespace zav::libs::config {

// The kinds of document the library can read.
enum class type { json = 0 };

// A parsed document: a read-only tree of dictionaries, arrays and values that
// does not show the library it was parsed with. Everything handed out by the
// document (dictionaries, values, ranges) is valid only while it exists.
class config
{
public:
    using ptr = std::unique_ptr<config>;
    using object = const dictionary&;

    virtual ~config() = default;

    virtual object get_root() const = 0;

    // The root dictionary's member _key, converted to T.
    template <typename T>
    boost::optional<T> get(const std::string& _key) const
    {
        return get_root().get<T>(_key);
    }

    // Looks up a setting by member names from the root downwards: every name
    // but the last must name an object, the last names the setting. The path
    // holds at least one name. Never throws for absent or mistyped settings;
    // the error names the path and what was missing. Available for
    // T = std::string, int and bool.
    template <typename T>
    result<T> get_by_path(const std::initializer_list<std::string>& _path) const;

    // Reads a whole document of the given kind from the stream. Throws
    // std::runtime_error "Cannot parse json: <parser's text>" when the
    // stream cannot be read or holds no valid document.
    template <type T>
    static ptr create(std::istream& _stream);

protected:
    config() = default;
    config(const config&) = delete;
    config& operator=(const config&) = delete;
};

template <>
config::ptr config::create<type::json>(std::istream& _stream);

}  // namespace zav::libs::config
