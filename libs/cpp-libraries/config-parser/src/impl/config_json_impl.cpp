#include "config_json_impl.hpp"

#include <json/reader.h>

#include <boost/throw_exception.hpp>
#include <stdexcept>

namespace zav::libs::config {

namespace {

Json::Value parse(std::istream& _stream)
{
    Json::CharReaderBuilder builder;
    builder["collectComments"] = false;
    Json::Value parsed;
    std::string errors;
    if (!Json::parseFromStream(builder, _stream, &parsed, &errors))
        BOOST_THROW_EXCEPTION(std::runtime_error("Cannot parse json: " + errors));
    return parsed;
}

}  // namespace

template <>
config::ptr config::create<type::json>(std::istream& _stream)
{
    return std::make_unique<config_json_impl>(_stream);
}

config_json_impl::config_json_impl(std::istream& _stream)
{
    const Json::Value parsed = parse(_stream);
    dictionary_impl& root = m_dictionaries.emplace_back();
    for (auto member = parsed.begin(); member != parsed.end(); ++member)
        processValue(*member, member.name(), root);
}

config::object config_json_impl::get_root() const { return m_dictionaries.front(); }

void config_json_impl::processValue(const Json::Value& _json, const std::string& _name,
                                    dictionary_impl& _target)
{
    if (_json.isObject()) {
        dictionary_impl& object = m_dictionaries.emplace_back();
        _target.add_value(_name, value_impl(object));
        for (auto member = _json.begin(); member != _json.end(); ++member)
            processValue(*member, member.name(), object);
    } else if (_json.isArray()) {
        std::vector<value_impl>& elements = m_arrays.emplace_back();
        processArray(_json, elements);
        // The range is taken only now that the vector is complete; it never
        // changes again, so the range stays valid for the document's life.
        _target.add_value(_name, value_impl(value::array(elements)));
    } else {
        _target.add_value(_name, value_impl(_json));
    }
}

void config_json_impl::processArray(const Json::Value& _json, std::vector<value_impl>& _out)
{
    _out.reserve(_json.size());
    for (const Json::Value& element : _json) {
        if (element.isObject()) {
            dictionary_impl& object = m_dictionaries.emplace_back();
            _out.emplace_back(object);
            for (auto member = element.begin(); member != element.end(); ++member)
                processValue(*member, member.name(), object);
        } else if (element.isArray()) {
            std::vector<value_impl>& elements = m_arrays.emplace_back();
            processArray(element, elements);
            _out.emplace_back(value::array(elements));
        } else {
            _out.emplace_back(element);
        }
    }
}

}  // namespace zav::libs::config
