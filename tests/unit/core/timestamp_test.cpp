#include "core/timestamp.hpp"

#include <gtest/gtest.h>
#include <boost/archive/text_iarchive.hpp>
#include <boost/archive/text_oarchive.hpp>

#include <sstream>

using std::chrono::milliseconds;
using zav::libs::core::timestamp;

TEST(TimestampTest, IsoTextForms)
{
    EXPECT_EQ(timestamp(milliseconds(1714564800007)).to_iso_8601_string(true), "2024-05-01 12:00:00.007");
    EXPECT_EQ(timestamp(milliseconds(0)).to_iso_8601_string(true), "1970-01-01 00:00:00.000");
    EXPECT_EQ(timestamp(milliseconds(1714564800050)).to_iso_8601_string(true), "2024-05-01 12:00:00.050");
    EXPECT_EQ(timestamp(milliseconds(1714564800007)).to_iso_8601(true, 'T', true),
              "2024-05-01T12:00:00.007Z");
    EXPECT_EQ(timestamp(milliseconds(1714564800999)).to_iso_8601(false, ' ', false), "2024-05-01 12:00:00");
}

TEST(TimestampTest, ArithmeticIsOnTheSignedMillisecondCount)
{
    EXPECT_LT(timestamp(milliseconds(-1)), timestamp());
    const timestamp a(1714564800, 7);
    const timestamp b(milliseconds(1714564801000));
    EXPECT_EQ(a - b, milliseconds(-993));
    EXPECT_EQ(b - a, milliseconds(993));
    EXPECT_EQ(a.get_ts(), 1714564800);
    EXPECT_EQ(a.get_ms(), 7u);
    timestamp c = a;
    c += milliseconds(1000);
    c -= milliseconds(7);
    EXPECT_EQ(c.get_time_since_epoch(), milliseconds(1714564801000));
    EXPECT_EQ((a + milliseconds(3)).get_ms(), 10u);
}

TEST(TimestampTest, CurrentTimeIsTheRealTimeClockInWholeMilliseconds)
{
    const auto before = std::chrono::time_point_cast<milliseconds>(std::chrono::system_clock::now());
    const auto now = timestamp::current_time();
    const auto after = std::chrono::time_point_cast<milliseconds>(std::chrono::system_clock::now());
    EXPECT_LE(before.time_since_epoch(), now.get_time_since_epoch());
    EXPECT_LE(now.get_time_since_epoch(), after.time_since_epoch());
}

TEST(TimestampTest, ArchiveTextIsPinned)
{
    std::ostringstream out;
    {
        boost::archive::text_oarchive oa(out, boost::archive::no_header);
        const timestamp ts(milliseconds(1714564800007));
        oa << ts;
    }
    // Class information (tracking level 0, version 0), then the count.
    EXPECT_EQ(out.str(), "0 0 1714564800007\n");

    std::istringstream in(out.str());
    boost::archive::text_iarchive ia(in, boost::archive::no_header);
    timestamp loaded;
    ia >> loaded;
    EXPECT_EQ(loaded, timestamp(milliseconds(1714564800007)));
}
