#pragma once

#include "mariadb++/types.hpp"

#include <string>
#include <string_view>

namespace mariadb {

// A time of day with millisecond resolution, as read from SQL text.
class time
{
public:
    time() = default;
    virtual ~time() = default;

    // Reads "hh:mm:ss.fff"; leading blanks are skipped, and a text may end
    // after the hour, the minute or the second (the rest is then 0). The
    // fraction is a decimal fraction of which milliseconds are kept (".5" is
    // 500, ".012345" is 12). Throws std::invalid_argument("invalid time
    // format") when a field is missing or out of range.
    virtual bool set(const std::string& _text);
    bool set_text(std::string_view _text);
    virtual bool is_valid() const;

    u8 hour() const { return m_hour; }
    u8 minute() const { return m_minute; }
    u8 second() const { return m_second; }
    u16 millisecond() const { return m_millisecond; }

protected:
    void set_parts(u8 _hour, u8 _minute, u8 _second, u16 _millisecond);

private:
    u8 m_hour = 0;
    u8 m_minute = 0;
    u8 m_second = 0;
    u16 m_millisecond = 0;
};

}  // namespace mariadb
