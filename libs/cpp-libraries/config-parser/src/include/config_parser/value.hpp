#pragma once

#include <boost/optional.hpp>
#include <boost/range/any_range.hpp>
#include <cstddef>
#include <string>
#include <type_traits>

namespace zav::libs::config {

class dictionary;

// One node of a read-only document: a scalar, an object or an array.
// Every conversion yields nothing unless the node is of exactly that kind;
// nothing converts between kinds (the string "5" is no integer, 1 is no
// boolean, null is nothing at all). References and ranges handed out are
// valid while the document that owns the node exists.
class value
{
public:
    using array = boost::any_range<value, boost::bidirectional_traversal_tag, value&, std::ptrdiff_t>;

    virtual ~value() = default;

    virtual boost::optional<bool> as_bool() const = 0;
    // An integer, or a real number without fractional part. A number outside
    // the range of int lets the JSON library's exception through.
    virtual boost::optional<int> as_int() const = 0;
    // Any number, integers included.
    virtual boost::optional<double> as_double() const = 0;
    virtual boost::optional<std::string> as_string() const = 0;
    virtual boost::optional<const dictionary&> as_object() const = 0;
    // A copy of the range; the elements themselves are not copied.
    virtual boost::optional<array> as_array() const = 0;

    // The conversion that matches T: int, bool, double, std::string,
    // const dictionary& or array.
    template <typename T>
    boost::optional<T> get() const;

protected:
    value() = default;
    value(const value&) = default;
    value(value&&) = default;
    value& operator=(const value&) = default;
    value& operator=(value&&) = default;
};

template <typename T>
boost::optional<T> value::get() const
{
    if constexpr (std::is_same_v<T, int>)
        return as_int();
    else if constexpr (std::is_same_v<T, bool>)
        return as_bool();
    else if constexpr (std::is_same_v<T, double>)
        return as_double();
    else if constexpr (std::is_same_v<T, std::string>)
        return as_string();
    else if constexpr (std::is_same_v<T, const dictionary&>)
        return as_object();
    else if constexpr (std::is_same_v<T, array>)
        return as_array();
    else
        static_assert(!sizeof(T*), "value::get<T>: no conversion for this type");
}

}  // namespace zav::libs::config
