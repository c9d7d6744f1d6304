#pragma once

// The fixture of a test against the private MariaDB server.

#include "support/mariadb_test_server.hpp"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace trackmend_test {

// SetUp finds the server (skipping the test when there is none), connects
// m_sql and runs _before; TearDown runs _after, so that every test starts
// and leaves the tables it uses the same. A derived SetUp calls this one
// first and returns when IsSkipped().
class server_test : public ::testing::Test
{
protected:
    server_test(std::string _before, std::string _after)
        : m_before(std::move(_before)), m_after(std::move(_after))
    {
    }
    // The same statements before and after.
    explicit server_test(const std::string& _reset) : server_test(_reset, _reset) {}

    void SetUp() override
    {
        // With the script, a test can stop and start the server.
        auto server =
            mariadb_test_server::from_environment(TRACKMEND_SOURCE_DIR "/scripts/mariadb-test-server");
        if (!server) GTEST_SKIP() << mariadb_test_server::skip_message;
        m_server = *server;
        m_sql = m_server.connect();
        if (!m_before.empty()) m_sql->execute(m_before);
    }

    void TearDown() override
    {
        if (m_sql && !m_after.empty()) m_sql->execute(m_after);
    }

    mariadb_test_server m_server;
    mariadb::connection_ref m_sql;

private:
    std::string m_before, m_after;
};

}  // namespace trackmend_test
