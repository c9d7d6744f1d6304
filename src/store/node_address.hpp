#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zav {

// One database server of the configuration: a host name or address and its
// TCP port. An IPv6 address is kept without its brackets.
struct node_address
{
    std::string host;
    std::uint32_t port = 0;

    // "host:port", or "[address]:port" for an IPv6 address, as configured.
    std::string to_string() const;
    bool operator==(const node_address&) const = default;
};

using node_addresses = std::vector<node_address>;

// Reads "host:port" or "[IPv6 address]:port" with a port from 1 to 65535.
// Throws std::invalid_argument naming what is wrong with _text.
node_address parse_node_address(std::string_view _text);

}  // namespace zav
