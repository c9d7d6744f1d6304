#pragma once

#include <memory>
#include <utility>

namespace zav::libs::core {

namespace detail {

class scope_guard
{
public:
    virtual ~scope_guard() = default;
};

template <typename F>
class scope_guard_impl final : public scope_guard
{
public:
    explicit scope_guard_impl(F&& _callback) : m_callback(std::forward<F>(_callback)) {}
    ~scope_guard_impl() override
    {
        if (m_should_execute) m_callback();
    }

    scope_guard_impl(const scope_guard_impl&) = delete;
    scope_guard_impl& operator=(const scope_guard_impl&) = delete;

private:
    bool m_should_execute = true;
    F m_callback;
};

}  // namespace detail

// Runs its callable once, when the handle is destroyed or reset.
using scope_guard = std::unique_ptr<detail::scope_guard>;

template <typename F>
scope_guard make_scope_guard(F&& _callback)
{
    return std::make_unique<detail::scope_guard_impl<std::decay_t<F>>>(std::forward<F>(_callback));
}

}  // namespace zav::libs::core
