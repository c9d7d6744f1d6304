#pragma once

#include "store/node_address.hpp"

#include "config_parser/config.hpp"
#include "config_parser/result.hpp"

#include <boost/optional.hpp>

namespace zav {

// The optional setting "dw"/"hosts": an array of "host:port" strings
// ("[address]:port" for IPv6), the nodes of a cluster in the order they are
// tried. None when the document has no such key; otherwise the nodes, or one
// error line for everything wrong with them: not an array, empty, an element
// that is no such string, or "dw"/"host" or "dw"/"port" given as well (they
// would say which server to use a second time).
boost::optional<libs::config::result<node_addresses>> read_database_nodes_setting(
    const libs::config::config& _document);

}  // namespace zav
