#pragma once

#include <chrono>
#include <cstdint>
#include <ctime>
#include <string>

namespace zav::libs::core {

// A UTC instant with millisecond resolution: a signed count of milliseconds
// since 1970-01-01 00:00:00 UTC. A default-constructed timestamp is the epoch.
class timestamp
{
public:
    using time_point = std::chrono::time_point<std::chrono::system_clock, std::chrono::milliseconds>;

    timestamp() = default;
    timestamp(time_t _timestamp, unsigned int _ms);
    explicit timestamp(std::chrono::milliseconds _ms);

    // The real-time clock, truncated to whole milliseconds.
    static timestamp current_time();

    std::chrono::milliseconds operator-(const timestamp& _other) const;
    timestamp& operator+=(const std::chrono::milliseconds& _milliseconds);
    timestamp operator+(const std::chrono::milliseconds& _milliseconds) const;
    timestamp& operator-=(const std::chrono::milliseconds& _milliseconds);
    timestamp operator-(const std::chrono::milliseconds& _milliseconds) const;

    auto operator<=>(const timestamp&) const = default;

    // Whole seconds (count / 1000, truncating) and the millisecond part.
    time_t get_ts() const;
    unsigned int get_ms() const;
    std::chrono::milliseconds get_time_since_epoch() const;

    // "YYYY-MM-DD hh:mm:ss", the blank replaced by _delimiter, then ".mmm"
    // when _with_milleseconds and "Z" when _with_Z.
    std::string to_iso_8601(bool _with_milleseconds, char _delimiter, bool _with_Z) const;
    std::string to_iso_8601_string(bool _with_milleseconds) const;

    // One primitive token in an archive: the millisecond count. The same body
    // serves saving and loading.
    template <class Archive>
    void serialize(Archive& _ar, const unsigned int)
    {
        std::int64_t count = m_time_point.time_since_epoch().count();
        _ar& count;
        m_time_point = time_point(std::chrono::milliseconds(count));
    }

private:
    time_point m_time_point{};
};

}  // namespace zav::libs::core

namespace zav::libs::context_utils {
using timestamp = zav::libs::core::timestamp;
}

namespace zav {
using timestamp = zav::libs::context_utils::timestamp;
}
