#pragma once

#include "mariadb++/types.hpp"

#include <string>

namespace mariadb {

// The last failure an object reported; 0 and empty until the first one.
class last_error
{
public:
    u32 error_no() const { return m_last_error_no; }
    const std::string& error() const { return m_last_error; }

protected:
    void set_last_error(u32 _error_no, std::string _error);

private:
    u32 m_last_error_no = 0;
    std::string m_last_error;
};

}  // namespace mariadb
