#include "store/node_address.hpp"

#include <charconv>
#include <stdexcept>

namespace zav {

namespace {

constexpr std::uint32_t max_port = 65535;

[[noreturn]] void reject(std::string_view _text, const std::string& _why)
{
    throw std::invalid_argument("'" + std::string(_text) +
                                "' is no \"host:port\" or \"[address]:port\": " + _why);
}

}  // namespace

std::string node_address::to_string() const
{
    // A colon in the host can only be an IPv6 address, whose own colons would
    // run into the port's without the brackets.
    const bool bracketed = host.find(':') != std::string::npos;
    return (bracketed ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

node_address parse_node_address(std::string_view _text)
{
    std::string_view host, port;
    if (!_text.empty() && _text.front() == '[') {
        const auto close = _text.find(']');
        if (close == std::string_view::npos) reject(_text, "the '[' has no ']'");
        host = _text.substr(1, close - 1);
        if (close + 1 >= _text.size() || _text[close + 1] != ':')
            reject(_text, "no ':' and port after the ']'");
        port = _text.substr(close + 2);
    } else {
        const auto colon = _text.rfind(':');
        if (colon == std::string_view::npos) reject(_text, "no port");
        host = _text.substr(0, colon);
        if (host.find(':') != std::string_view::npos) reject(_text, "an IPv6 address needs brackets");
        port = _text.substr(colon + 1);
    }
    if (host.empty()) reject(_text, "no host");

    std::uint32_t number = 0;
    const auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), number);
    if (port.empty() || error != std::errc() || end != port.data() + port.size() || number < 1 ||
        number > max_port)
        reject(_text, "the port must be a number from 1 to 65535");
    return {std::string(host), number};
}

}  // namespace zav
