#include "store/node_address.hpp"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

std::string error_of(const std::string& _text)
{
    try {
        zav::parse_node_address(_text);
    } catch (const std::invalid_argument& e) {
        return e.what();
    }
    return "no error";
}

}  // namespace

TEST(NodeAddressTest, HostNamesIpv4AndBracketedIpv6RoundTrip)
{
    for (const auto& [text, host, port] : {std::tuple{"db1.site.local:3306", "db1.site.local", 3306u},
                                           {"127.0.0.1:1", "127.0.0.1", 1u},
                                           {"[::1]:65535", "::1", 65535u},
                                           {"[fe80::1%eth0]:3307", "fe80::1%eth0", 3307u}}) {
        const auto node = zav::parse_node_address(text);
        EXPECT_EQ(node, (zav::node_address{host, port})) << text;
        EXPECT_EQ(node.to_string(), text) << "the configured form comes back in log lines";
    }
}

TEST(NodeAddressTest, MalformedTextsAreRefusedWithTheReason)
{
    EXPECT_NE(error_of("db1").find("no port"), std::string::npos);
    EXPECT_NE(error_of("::1:3306").find("IPv6 address needs brackets"), std::string::npos);
    EXPECT_NE(error_of("[::1:3306").find("has no ']'"), std::string::npos);
    EXPECT_NE(error_of("[::1]3306").find("no ':' and port"), std::string::npos);
    EXPECT_NE(error_of(":3306").find("no host"), std::string::npos);
    EXPECT_NE(error_of("[]:3306").find("no host"), std::string::npos);
    for (const char* port : {"db:", "db:0", "db:65536", "db:-1", "db:33x", "db: 3306", "db:99999999999"})
        EXPECT_NE(error_of(port).find("from 1 to 65535"), std::string::npos) << port;
    EXPECT_NE(error_of("db:0").find("'db:0'"), std::string::npos) << "names the text";
}
