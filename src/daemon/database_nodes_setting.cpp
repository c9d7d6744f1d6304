#include "daemon/database_nodes_setting.hpp"

#include <stdexcept>

namespace zav {

namespace {

using libs::config::error_reason;
using libs::config::result;

result<node_addresses> fail(const std::string& _why) { return error_reason{"'dw.hosts' " + _why}; }

}  // namespace

boost::optional<result<node_addresses>> read_database_nodes_setting(const libs::config::config& _document)
{
    const auto dw = _document.get<const libs::config::dictionary&>("dw");
    if (!dw) return boost::none;
    const auto hosts = dw->get_value("hosts");
    if (!hosts) return boost::none;

    if (dw->get_value("host") || dw->get_value("port"))
        return fail("replaces 'dw.host' and 'dw.port': give either the list or the two keys, not both");
    const auto array = hosts->as_array();
    if (!array) return fail("must be an array of \"host:port\" strings");
    node_addresses nodes;
    for (const auto& element : *array) {
        const auto text = element.as_string();
        if (!text) return fail("must be an array of \"host:port\" strings");
        try {
            nodes.push_back(parse_node_address(*text));
        } catch (const std::invalid_argument& e) {
            return fail(std::string("holds ") + e.what());
        }
    }
    if (nodes.empty()) return fail("must name at least one node");
    return result<node_addresses>(std::move(nodes));
}

}  // namespace zav
