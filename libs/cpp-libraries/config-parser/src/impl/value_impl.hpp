#pragma once

#include <json/value.h>

#include <boost/variant.hpp>

#include "config_parser/value.hpp"

namespace zav::libs::config {

// A node of a JSON document. Dictionaries and element vectors are owned by
// the document and referred to here, so a value_impl is cheap to copy and
// must not outlive its document.
class value_impl : public value
{
public:
    // 0: a copy of a scalar (null, boolean, number or string);
    // 1: a dictionary of the same document; 2: a range over an element
    // vector of the same document.
    using data = boost::variant<Json::Value, const dictionary&, value::array>;

    explicit value_impl(Json::Value _scalar);
    explicit value_impl(const dictionary& _object);
    explicit value_impl(value::array _array);
    value_impl(const value_impl&) = default;
    value_impl(value_impl&&) = default;
    // A reference alternative cannot be re-seated.
    value_impl& operator=(const value_impl&) = delete;
    value_impl& operator=(value_impl&&) = delete;

    boost::optional<bool> as_bool() const override;
    boost::optional<int> as_int() const override;
    boost::optional<double> as_double() const override;
    boost::optional<std::string> as_string() const override;
    boost::optional<const dictionary&> as_object() const override;
    boost::optional<array> as_array() const override;

private:
    const Json::Value* scalar() const;

    data m_value;
};

}  // namespace zav::libs::config
