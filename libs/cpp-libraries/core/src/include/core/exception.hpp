#pragma once

#include "core/source_location.hpp"

#include <exception>
#include <ostream>
#include <string>

namespace zav::libs::core {

// Base of every exception of the library: knows where it was raised.
class located_exception : public std::exception
{
public:
    explicit located_exception(source_location _source_location);
    ~located_exception() override = default;

    // Rebuilt from describe() on every call, so it reflects the most derived
    // class. Not safe to call on one object from two threads at once.
    const char* what() const noexcept override;
    // Writes "<short file>:<line>".
    virtual std::ostream& describe(std::ostream& _os) const;

    const source_location& get_source_location() const { return m_source_location; }

private:
    source_location m_source_location;
    mutable std::string m_what;
};

class exception : public located_exception
{
public:
    exception(std::string _message, source_location _source_location);

    // Writes "<short file>:<line> <message>".
    std::ostream& describe(std::ostream& _os) const override;
    const std::string& get_string_error() const { return m_str_error; }

private:
    std::string m_str_error;
};

class check_failed_exception : public exception
{
public:
    check_failed_exception(std::string _condition, source_location _source_location);
};

// Must be called inside a catch handler: describes the exception being handled.
std::string exception_to_string();
std::string exception_to_string(const located_exception& _e);

}  // namespace zav::libs::core

// Throws check_failed_exception with the expression's text when it is false.
#define CORE_CHECK(expression)                                                                  \
    do {                                                                                        \
        if (!static_cast<bool>(expression))                                                     \
            throw ::zav::libs::core::check_failed_exception(#expression, CORE_SOURCE_LOCATION); \
    } while (false)
