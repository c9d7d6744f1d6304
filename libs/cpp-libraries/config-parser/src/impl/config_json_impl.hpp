#pragma once

#include <json/value.h>

#include <istream>
#include <list>
#include <string>
#include <vector>

#include "config_parser/config.hpp"
#include "dictionary_impl.hpp"
#include "value_impl.hpp"

namespace zav::libs::config {

// A JSON document. The members of the top-level value become the root's
// members: a top-level scalar gives an empty root, and the elements of a
// top-level array all have the empty name, so only the first is reachable.
class config_json_impl : public config
{
public:
    // Throws std::runtime_error "Cannot parse json: <parser's text>".
    explicit config_json_impl(std::istream& _stream);

    object get_root() const override;

private:
    void processValue(const Json::Value& _json, const std::string& _name, dictionary_impl& _target);
    void processArray(const Json::Value& _json, std::vector<value_impl>& _out);

    // Lists, so that a dictionary or an element vector never moves once
    // created: values elsewhere in the tree refer to them. The first
    // dictionary is the root.
    std::list<dictionary_impl> m_dictionaries;
    std::list<std::vector<value_impl>> m_arrays;
};

}  // namespace zav::libs::config
