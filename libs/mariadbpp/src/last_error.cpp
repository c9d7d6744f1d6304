#include "mariadb++/last_error.hpp"

#include <utility>

namespace mariadb {

void last_error::set_last_error(u32 _error_no, std::string _error)
{
    m_last_error_no = _error_no;
    m_last_error = std::move(_error);
}

}  // namespace mariadb
