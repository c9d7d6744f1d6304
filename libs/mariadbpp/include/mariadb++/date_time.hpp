#pragma once

#include "mariadb++/time.hpp"
#include "mariadb++/types.hpp"

#include <string>
#include <string_view>

namespace mariadb {

// A calendar date and a time of day, as read from SQL text.
class date_time : public time
{
public:
    date_time() = default;
    ~date_time() override = default;

    // Reads "YYYY-MM-DD hh:mm:ss.fff" with any one-character delimiters; the
    // text may end after the year, the month or the day (the rest is then
    // 0). Throws std::invalid_argument("invalid date format") when the date
    // part is missing or out of range, and the time's exception for the time
    // part (see time::set).
    bool set(const std::string& _text) override;
    bool set_text(std::string_view _text);
    bool is_valid() const override;

    u16 year() const { return m_year; }
    u8 month() const { return m_month; }
    u8 day() const { return m_day; }

private:
    u16 m_year = 0;
    u8 m_month = 0;
    u8 m_day = 0;
};

}  // namespace mariadb
