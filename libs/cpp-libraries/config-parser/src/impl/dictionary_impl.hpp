#pragma once

#include <map>
#include <string>

#include "config_parser/dictionary.hpp"
#include "value_impl.hpp"

namespace zav::libs::config {

class dictionary_impl : public dictionary
{
public:
    dictionary_impl() = default;
    dictionary_impl(const dictionary_impl&) = delete;
    dictionary_impl& operator=(const dictionary_impl&) = delete;

    boost::optional<const value&> get_value(const std::string& _key) const override;
    std::vector<std::string> get_keys() const override;

    // The first value added under a key stays; later ones are dropped.
    void add_value(const std::string& _key, value_impl _value);

private:
    std::map<std::string, value_impl, std::less<std::string>> m_data;
};

}  // namespace zav::libs::config
