#include "value_impl.hpp"

#include <utility>

namespace zav::libs::config {

value_impl::value_impl(Json::Value _scalar) : m_value(std::move(_scalar)) {}

value_impl::value_impl(const dictionary& _object) : m_value(_object) {}

value_impl::value_impl(value::array _array) : m_value(std::move(_array)) {}

const Json::Value* value_impl::scalar() const { return boost::get<Json::Value>(&m_value); }

boost::optional<bool> value_impl::as_bool() const
{
    const Json::Value* json = scalar();
    if (json == nullptr || !json->isBool()) return boost::none;
    return json->asBool();
}

boost::optional<int> value_impl::as_int() const
{
    const Json::Value* json = scalar();
    if (json == nullptr || !json->isIntegral()) return boost::none;
    return json->asInt();
}

boost::optional<double> value_impl::as_double() const
{
    const Json::Value* json = scalar();
    if (json == nullptr || !json->isDouble()) return boost::none;
    return json->asDouble();
}

boost::optional<std::string> value_impl::as_string() const
{
    const Json::Value* json = scalar();
    if (json == nullptr || !json->isString()) return boost::none;
    return json->asString();
}

boost::optional<const dictionary&> value_impl::as_object() const
{
    if (m_value.which() != 1) return boost::none;
    return boost::get<const dictionary&>(m_value);
}

boost::optional<value::array> value_impl::as_array() const
{
    if (const array* range = boost::get<array>(&m_value)) return *range;
    return boost::none;
}

}  // namespace zav::libs::config
