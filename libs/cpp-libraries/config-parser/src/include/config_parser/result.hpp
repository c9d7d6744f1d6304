#pragma once

#include <boost/optional.hpp>
#include <boost/variant.hpp>
#include <string>
#include <tuple>
#include <utility>

namespace zav::libs::config {

// Why a lookup failed, in words meant for the person who wrote the document.
struct error_reason
{
    std::string reason;
};

// Either a value of type T or the reason why there is none.
template <typename T>
class result
{
public:
    using result_type = T;
    using value_type = boost::variant<T, error_reason>;

    result(result_type _value) : m_value(std::move(_value)) {}
    result(error_reason _reason) : m_value(std::move(_reason)) {}

    bool ok() const { return m_value.which() == 0; }

    // A copy of the value, or empty on an error.
    boost::optional<T> try_get() const
    {
        if (const T* stored = boost::get<T>(&m_value)) return *stored;
        return boost::none;
    }

    // A copy of the value; throws boost::bad_optional_access on an error, so
    // check ok() first or use try_get().
    T value() const { return try_get().value(); }

    // The error text; empty on a success.
    std::string reason() const
    {
        if (const error_reason* stored = boost::get<error_reason>(&m_value)) return stored->reason;
        return {};
    }

private:
    value_type m_value;
};

namespace detail {

// The elements a left operand of operator+ contributes: a tuple contributes
// its elements, anything else itself, so sums never nest tuples.
template <typename T>
struct as_tuple
{
    using type = std::tuple<T>;
    static type make(const T& _value) { return type(_value); }
};

template <typename... A>
struct as_tuple<std::tuple<A...>>
{
    using type = std::tuple<A...>;
    static const type& make(const type& _value) { return _value; }
};

template <typename T1, typename T2>
using sum_type =
    decltype(std::tuple_cat(std::declval<typename as_tuple<T1>::type>(), std::declval<std::tuple<T2>>()));

}  // namespace detail

// Combines two results so that a caller can read many settings and check once.
// Success only when both succeed: the left value (or the left tuple's
// elements) followed by the right value. Otherwise the failures' texts in
// operand order, one per line, with no line feed after the last.
template <typename T1, typename T2>
result<detail::sum_type<T1, T2>> operator+(const result<T1>& _lhs, const result<T2>& _rhs)
{
    using sum = detail::sum_type<T1, T2>;
    const auto left = _lhs.try_get();
    const auto right = _rhs.try_get();
    if (left && right)
        return result<sum>(std::tuple_cat(detail::as_tuple<T1>::make(*left), std::tuple<T2>(*right)));
    if (!left && !right) return result<sum>(error_reason{_lhs.reason() + "\n" + _rhs.reason()});
    return result<sum>(error_reason{left ? _rhs.reason() : _lhs.reason()});
}

}  // namespace zav::libs::config
