#include "core/exception.hpp"

#include <sstream>

namespace zav::libs::core {

located_exception::located_exception(source_location _source_location) : m_source_location(_source_location)
{
}

const char* located_exception::what() const noexcept
{
    try {
        std::ostringstream os;
        describe(os);
        m_what = os.str();
    } catch (...) {
        m_what.clear();
    }
    return m_what.c_str();
}

std::ostream& located_exception::describe(std::ostream& _os) const
{
    return _os << m_source_location.short_file() << ':' << m_source_location.line();
}

exception::exception(std::string _message, source_location _source_location)
    : located_exception(_source_location), m_str_error(std::move(_message))
{
}

std::ostream& exception::describe(std::ostream& _os) const
{
    return located_exception::describe(_os) << ' ' << m_str_error;
}

check_failed_exception::check_failed_exception(std::string _condition, source_location _source_location)
    : exception("check failed: " + _condition, _source_location)
{
}

std::string exception_to_string(const located_exception& _e)
{
    std::ostringstream os;
    _e.describe(os);
    return os.str();
}

std::string exception_to_string()
{
    try {
        throw;
    } catch (const located_exception& e) {
        return exception_to_string(e);
    } catch (const std::exception& e) {
        return std::string("std::exception::what(): ") + e.what();
    } catch (...) {
        return "Unknown exception";
    }
}

}  // namespace zav::libs::core
