#pragma once

// The 3-node Galera cluster that scripts/cluster-test starts with
// scripts/galera-test-cluster, found through TRACKMEND_TEST_GALERA_DIR and
// TRACKMEND_TEST_GALERA_BASE_PORT (node N serves SQL on base port + N). Tests
// skip when they are absent.

#include "support/daemon_harness.hpp"
#include "support/mariadb_test_server.hpp"

#include <cstdlib>
#include <optional>
#include <string>

namespace trackmend_test {

struct galera_test_cluster
{
    std::string dir;
    unsigned int base_port = 0;
    sql_endpoint account;  // user, password and schema; host and port of node 1

    static constexpr int node_count = 3;
    static constexpr const char* skip_message =
        "no test Galera cluster: scripts/cluster-test runs these tests with one "
        "(TRACKMEND_TEST_GALERA_DIR, TRACKMEND_TEST_GALERA_BASE_PORT)";

    static std::optional<galera_test_cluster> from_environment()
    {
        const char* dir = std::getenv("TRACKMEND_TEST_GALERA_DIR");
        const char* base = std::getenv("TRACKMEND_TEST_GALERA_BASE_PORT");
        const auto server = mariadb_test_server::from_environment();
        if (!dir || !base || !server) return std::nullopt;
        galera_test_cluster cluster{dir, static_cast<unsigned int>(std::stoul(base)), {}};
        cluster.account = {"127.0.0.1", cluster.base_port + 1, server->user, server->password,
                           server->schema};
        return cluster;
    }

    unsigned int port(int _node) const { return base_port + static_cast<unsigned int>(_node); }
    sql_endpoint node(int _node) const
    {
        auto endpoint = account;
        endpoint.port = port(_node);
        return endpoint;
    }
    // The node whose SQL port is _port, or 0.
    int node_of_port(unsigned int _port) const
    {
        return _port > base_port && _port <= base_port + node_count ? static_cast<int>(_port - base_port) : 0;
    }

    // scripts/galera-test-cluster with these arguments after the command
    // and DIR; true on success.
    bool run(const std::string& _command, const std::string& _arguments = "") const
    {
        return std::system((TRACKMEND_SOURCE_DIR "/scripts/galera-test-cluster " + _command + " '" + dir +
                            "' " + _arguments + " >/dev/null")
                               .c_str()) == 0;
    }
};

}  // namespace trackmend_test
