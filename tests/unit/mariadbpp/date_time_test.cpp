#include "mariadb++/date_time.hpp"
#include "mariadb++/time.hpp"

#include <gtest/gtest.h>

#include <stdexcept>

TEST(DateTimeTest, ReadsTheTextFormsOfTheServer)
{
    // text, fields as "y-m-d h:m:s.ms"; fractions are truncated, not rounded.
    for (auto [text, expected] : {std::pair{"2024-03-05 07:08:09", "2024-3-5 7:8:9.0"},
                                  {"2024-05-01 12:00:00.007", "2024-5-1 12:0:0.7"},
                                  {"2024-05-01 12:00:00.007000", "2024-5-1 12:0:0.7"},
                                  {"2024-05-01 12:00:00.999999", "2024-5-1 12:0:0.999"},
                                  {"2024-03-05", "2024-3-5 0:0:0.0"},
                                  {"2024-03", "2024-3-0 0:0:0.0"},
                                  {"2024-03-05T07:08:09", "2024-3-5 7:8:9.0"},
                                  {"2024-03-05 23:59:61", "2024-3-5 23:59:61.0"}}) {
        mariadb::date_time dt;
        dt.set(text);
        char fields[64];
        std::snprintf(fields, sizeof fields, "%u-%u-%u %u:%u:%u.%u", dt.year(), dt.month(), dt.day(),
                      dt.hour(), dt.minute(), dt.second(), dt.millisecond());
        EXPECT_STREQ(fields, expected) << text;
    }
    mariadb::date_time zero;
    zero.set("2024-00-00");
    EXPECT_FALSE(zero.is_valid());

    mariadb::time t;
    for (auto [text, expected] : {std::pair{"12:00:00.5", 500},
                                  {"12:00:00.25", 250},
                                  {"12:00:00.012345", 12},
                                  {"12:00:00.0123456789", 12}}) {
        t.set(text);
        EXPECT_EQ(t.millisecond(), expected) << text << ": fractions of any length are decimal fractions";
    }
    t.set("  07:08");
    EXPECT_EQ(t.hour() * 10000 + t.minute() * 100 + t.second(), 70800);
}

TEST(DateTimeTest, RejectsTextOutOfRange)
{
    const std::string date = "invalid date format", time = "invalid time format";
    for (auto [text, message] : {std::pair{"", date},
                                 {"x", date},
                                 {"2024-13-01 00:00:00", date},
                                 {"2024-03-32 00:00:00", date},
                                 {"2024-", date},
                                 {"70000-01-01", date},
                                 {"2024-03-05 24:00:00", time},
                                 {"2024-03-05 23:60:00", time},
                                 {"2024-03-05 23:59:62", time},
                                 {"2024-03-05 12:00:00.", time},
                                 {"2024-03-05 12:", time}}) {
        try {
            mariadb::date_time dt;
            dt.set(text);
            ADD_FAILURE() << "accepted '" << text << "'";
        } catch (const std::invalid_argument& e) {
            EXPECT_EQ(e.what(), message) << text;
        }
    }
}
