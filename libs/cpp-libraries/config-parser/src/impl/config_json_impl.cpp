#include "config_json_impl.hpp"

#include <json/reader.h>

#include <boost/throw_exception.hpp>
#include <iterator>
#include <memory>
#include <stdexcept>

namespace zav::libs::config {

namespace {

// The position of the first comment outside a string, in the parser's words,
// or "" when there is none. The JSON library accepts a comment after a member
// value even when comments are switched off, so they are looked for here.
std::string find_comment(const std::string& _text)
{
    int line = 1, column = 1;
    bool in_string = false, escaped = false;
    for (const char c : _text) {
        if (in_string) {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                in_string = false;
        } else if (c == '"') {
            in_string = true;
        } else if (c == '/') {
            return "* Line " + std::to_string(line) + ", Column " + std::to_string(column) +
                   "\n  Syntax error: comments are not allowed\n";
        }
        if (c == '\n') {
            ++line;
            column = 1;
        } else {
            ++column;
        }
    }
    return {};
}

Json::Value parse(std::istream& _stream)
{
    Json::CharReaderBuilder builder;
    // Strict JSON: a configuration with a comment, a trailing comma, a second
    // document or a key given twice is refused with the position of the
    // problem instead of being read differently from what its author meant
    // (the second of two equal keys, say, would otherwise be dropped
    // silently). The root may still be any value.
    Json::CharReaderBuilder::strictMode(&builder.settings_);
    builder["strictRoot"] = false;
    builder["collectComments"] = false;

    const std::string text(std::istreambuf_iterator<char>(_stream), {});
    std::string errors = find_comment(text);
    Json::Value parsed;
    if (errors.empty()) {
        const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
        if (reader->parse(text.data(), text.data() + text.size(), &parsed, &errors)) return parsed;
    }
    BOOST_THROW_EXCEPTION(std::runtime_error("Cannot parse json: " + errors));
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
