#include "store/row_time.hpp"

#include <gtest/gtest.h>

namespace {

mariadb::date_time date_time(const std::string& _text)
{
    mariadb::date_time result;
    result.set(_text);
    return result;
}

long long count(const zav::timestamp& _ts) { return _ts.get_time_since_epoch().count(); }

}  // namespace

TEST(RowTimeTest, ToTimestampTakesMillisecondsFromTheMicroseconds)
{
    const auto noon = date_time("2024-05-01 12:00:00");
    EXPECT_EQ(zav::to_timestamp(noon, 7000).to_iso_8601_string(true), "2024-05-01 12:00:00.007");
    EXPECT_EQ(count(zav::to_timestamp(noon, 0)), 1714564800000);
    EXPECT_EQ(count(zav::to_timestamp(noon, 999999)), 1714564800999);
    EXPECT_EQ(count(zav::to_timestamp(noon, 1)), 1714564800000) << "below a millisecond";
    EXPECT_EQ(count(zav::to_timestamp(noon, 999)), 1714564800000);
    EXPECT_EQ(count(zav::to_timestamp(noon, 1000)), 1714564800001);
    EXPECT_EQ(count(zav::to_timestamp(noon, 1999)), 1714564800001);

    EXPECT_EQ(count(zav::to_timestamp(date_time("1970-01-01 00:00:00"), 0)), 0);
    EXPECT_EQ(zav::to_timestamp(date_time("2024-02-29 23:59:59"), 0).to_iso_8601_string(false),
              "2024-02-29 23:59:59")
        << "leap day";
    EXPECT_EQ(zav::to_timestamp(date_time("2023-12-31 23:59:59"), 0).to_iso_8601_string(false),
              "2023-12-31 23:59:59");
}
