#pragma once

#include "mariadb++/types.hpp"

#include <exception>
#include <string>

namespace mariadb::exception {

// A failure of the layer: the server's or client library's error number
// (0 when the layer itself failed) and its text.
class base : public std::exception
{
public:
    base(u32 _error_id, std::string _error);

    const char* what() const noexcept override { return m_error.c_str(); }
    u32 error_id() const noexcept { return m_error_id; }

private:
    u32 m_error_id;
    std::string m_error;
};

// Thrown by every failure of a connection or of a result set.
class connection : public base
{
public:
    using base::base;
};

}  // namespace mariadb::exception
