#include "core/timestamp.hpp"

#include "core/civil_time.hpp"

#include <time.h>
#include <cstdio>

namespace zav::libs::core {

timestamp::timestamp(time_t _timestamp, unsigned int _ms)
    : m_time_point(std::chrono::milliseconds(static_cast<std::int64_t>(_timestamp) * 1000 + _ms))
{
}

timestamp::timestamp(std::chrono::milliseconds _ms) : m_time_point(_ms) {}

timestamp timestamp::current_time()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return timestamp(now.tv_sec, static_cast<unsigned int>(now.tv_nsec / 1000000));
}

std::chrono::milliseconds timestamp::operator-(const timestamp& _other) const
{
    return m_time_point - _other.m_time_point;
}

timestamp& timestamp::operator+=(const std::chrono::milliseconds& _milliseconds)
{
    m_time_point += _milliseconds;
    return *this;
}

timestamp timestamp::operator+(const std::chrono::milliseconds& _milliseconds) const
{
    timestamp result(*this);
    result += _milliseconds;
    return result;
}

timestamp& timestamp::operator-=(const std::chrono::milliseconds& _milliseconds)
{
    m_time_point -= _milliseconds;
    return *this;
}

timestamp timestamp::operator-(const std::chrono::milliseconds& _milliseconds) const
{
    timestamp result(*this);
    result -= _milliseconds;
    return result;
}

time_t timestamp::get_ts() const
{
    return static_cast<time_t>(m_time_point.time_since_epoch().count() / 1000);
}

unsigned int timestamp::get_ms() const
{
    return static_cast<unsigned int>(m_time_point.time_since_epoch().count() % 1000);
}

std::chrono::milliseconds timestamp::get_time_since_epoch() const { return m_time_point.time_since_epoch(); }

std::string timestamp::to_iso_8601(bool _with_milleseconds, char _delimiter, bool _with_Z) const
{
    char buffer[40];
    std::string result(buffer, put_date_time(buffer, get_ts()));
    if (result.size() > 10) result[10] = _delimiter;
    if (_with_milleseconds) {
        char ms[8];
        std::snprintf(ms, sizeof ms, ".%03u", get_ms());
        result += ms;
    }
    if (_with_Z) result += 'Z';
    return result;
}

std::string timestamp::to_iso_8601_string(bool _with_milleseconds) const
{
    return to_iso_8601(_with_milleseconds, ' ', false);
}

}  // namespace zav::libs::core
