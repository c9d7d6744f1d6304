#include "mariadb++/exceptions.hpp"

#include <utility>

namespace mariadb::exception {

base::base(u32 _error_id, std::string _error) : m_error_id(_error_id), m_error(std::move(_error)) {}

}  // namespace mariadb::exception
