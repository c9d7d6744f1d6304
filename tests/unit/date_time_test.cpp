#include "mariadb++/date_time.hpp"
#include "mariadb++/time.hpp"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

mariadb::date_time parse(const std::string& _text)
{
    mariadb::date_time result;
    result.set(_text);
    return result;
}

std::string fields(const mariadb::date_time& _dt)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%u-%u-%u %u:%u:%u.%u", _dt.year(), _dt.month(), _dt.day(), _dt.hour(),
                  _dt.minute(), _dt.second(), _dt.millisecond());
    return buffer;
}

}  // namespace

TEST(DateTimeTest, ReadsTheTextFormsOfTheServer)
{
    EXPECT_EQ(fields(parse("2024-03-05 07:08:09")), "2024-3-5 7:8:9.0");
    EXPECT_EQ(fields(parse("2024-05-01 12:00:00.007")), "2024-5-1 12:0:0.7") << "DATETIME(3)";
    EXPECT_EQ(fields(parse("2024-05-01 12:00:00.007000")), "2024-5-1 12:0:0.7") << "DATETIME(6)";
    EXPECT_EQ(fields(parse("2024-05-01 12:00:00.999999")), "2024-5-1 12:0:0.999") << "truncated, not rounded";
    EXPECT_EQ(fields(parse("2024-03-05")), "2024-3-5 0:0:0.0") << "a DATE alone";
    EXPECT_EQ(fields(parse("2024-03")), "2024-3-0 0:0:0.0");
    EXPECT_EQ(fields(parse("2024-03-05T07:08:09")), "2024-3-5 7:8:9.0");
    EXPECT_EQ(fields(parse("2024-03-05 23:59:61")), "2024-3-5 23:59:61.0") << "leap seconds pass";
    EXPECT_TRUE(parse("2024-03-05 07:08:09.250").is_valid());
    EXPECT_FALSE(parse("2024-00-00").is_valid());
}

TEST(DateTimeTest, FractionsOfAnyLengthAreDecimalFractions)
{
    mariadb::time t;
    t.set("12:00:00.5");
    EXPECT_EQ(t.millisecond(), 500);
    t.set("12:00:00.25");
    EXPECT_EQ(t.millisecond(), 250);
    t.set("12:00:00.012345");
    EXPECT_EQ(t.millisecond(), 12);
    t.set("12:00:00.0123456789");
    EXPECT_EQ(t.millisecond(), 12) << "more digits than a short holds";
    t.set("  07:08");
    EXPECT_EQ(t.hour(), 7);
    EXPECT_EQ(t.minute(), 8);
    EXPECT_EQ(t.second(), 0);
}

TEST(DateTimeTest, RejectsTextOutOfRange)
{
    for (const char* text : {"", "x", "2024-13-01 00:00:00", "2024-03-32 00:00:00", "2024-", "70000-01-01"}) {
        try {
            parse(text);
            ADD_FAILURE() << "accepted '" << text << "'";
        } catch (const std::invalid_argument& e) {
            EXPECT_STREQ(e.what(), "invalid date format") << text;
        }
    }
    for (const char* text : {"2024-03-05 24:00:00", "2024-03-05 23:60:00", "2024-03-05 23:59:62",
                             "2024-03-05 12:00:00.", "2024-03-05 12:"}) {
        try {
            parse(text);
            ADD_FAILURE() << "accepted '" << text << "'";
        } catch (const std::invalid_argument& e) {
            EXPECT_STREQ(e.what(), "invalid time format") << text;
        }
    }
}
