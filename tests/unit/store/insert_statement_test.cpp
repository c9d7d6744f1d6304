#include "store/insert_statement.hpp"
#include "store/sql_text.hpp"

#include "support/positions.hpp"

#include <gtest/gtest.h>

#include <random>

using zav::test::ms;
using zav::test::pos;

TEST(InsertStatementTest, RendersTheExactStatementTextWithEveryStringEscaped)
{
    zav::position p = pos("T1", ms(1714564800007), 10, -5);
    p.trackable_id = 7;
    p.area_uid = "A";
    p.inactive = 0;
    zav::position q = pos("T2", ms(1714564801000));
    q.trackable_id = -3;
    q.mac_address = "";  // a value, not NULL
    q.project_uid = "P";
    q.z = 4;
    const zav::positions_vector positions = {p, q};
    EXPECT_EQ(
        zav::render_insert_statement(boost::sub_range<const zav::positions_vector>(positions),
                                     [](std::string_view _text) { return "<" + std::string(_text) + ">"; }),
        "INSERT INTO positions ( trackable_id, trackable_uid, mac_address, ts, x, y, z, area_uid, "
        "project_uid, "
        "inactive )  VALUES (7,'<T1>',NULL,'2024-05-01 12:00:00.007',10,-5,NULL,'<A>',NULL,0), "
        "(-3,'<T2>','<>','2024-05-01 12:00:01.000',NULL,NULL,4,NULL,'<P>',NULL)");
}

TEST(InsertStatementTest, TimestampTextMatchesTheTimestampsOwnRendering)
{
    std::mt19937_64 random(42);
    // From 1970 to 2200, plus the edges of days, years and the epoch.
    std::uniform_int_distribution<long long> count(0, 7'258'118'400'000LL);
    std::vector<long long> counts = {
        0, 999, 1000, 86'399'999, 86'400'000, 951'782'400'000, 1'709'251'199'999};
    for (int i = 0; i < 20000; ++i) counts.push_back(count(random));
    for (long long c : counts) {
        const zav::timestamp ts{ms(c)};
        std::string text;
        zav::sql_text::append_timestamp(text, ts);
        ASSERT_EQ(text, ts.to_iso_8601_string(true)) << "count " << c;
    }
}
