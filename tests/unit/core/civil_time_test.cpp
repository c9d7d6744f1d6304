#include "core/civil_time.hpp"

#include <gtest/gtest.h>

#include <ctime>
#include <random>
#include <string>

using namespace zav::libs::core;

namespace {

std::string c_library_text(std::int64_t _seconds)
{
    const auto t = static_cast<time_t>(_seconds);
    tm fields{};
    gmtime_r(&t, &fields);
    char buffer[64];
    std::string text(buffer, strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S", &fields));
    // Our years have at least four digits, where strftime writes as many as
    // the year needs.
    const std::size_t sign = text[0] == '-' ? 1 : 0;
    const std::size_t digits = text.find('-', sign) - sign;
    if (digits < 4) text.insert(sign, 4 - digits, '0');
    return text;
}

std::string module_text(std::int64_t _seconds)
{
    char buffer[40];
    return std::string(buffer, put_date_time(buffer, _seconds));
}

}  // namespace

// Instants from about 5000 years before to 5000 years after 1970, densest
// around the leap days, month ends and the epoch, in both directions: the
// text and the fields agree with gmtime_r and timegm.
TEST(CivilTimeTest, AgreesWithTheCLibrary)
{
    std::mt19937_64 rng(1970);
    std::uniform_int_distribution<std::int64_t> wide(-160'000'000'000, 160'000'000'000);
    std::uniform_int_distribution<std::int64_t> near(-200'000, 200'000);
    std::vector<std::int64_t> instants{
        0,         -1,        1,          86399,        86400,        -86400,       -86401,
        951782400, 951868799, 4107542399, 253402300799, 253402300800, -62167219200, -62167219201};
    for (int i = 0; i < 200000; ++i) instants.push_back(wide(rng));
    // Around the last days of February and of December of many years.
    for (int year = -400; year <= 2800; year += 7)
        for (const int month : {3, 1})
            instants.push_back(days_from_civil(year, month, 1) * 86400 + near(rng));
    for (const std::int64_t s : instants) {
        ASSERT_EQ(module_text(s), c_library_text(s)) << s;
        const auto t = static_cast<time_t>(s);
        tm fields{};
        gmtime_r(&t, &fields);
        ASSERT_EQ(seconds_from_civil(fields.tm_year + 1900LL, fields.tm_mon + 1, fields.tm_mday,
                                     fields.tm_hour, fields.tm_min, fields.tm_sec),
                  s);
        const civil_date date =
            civil_from_days(days_from_civil(fields.tm_year + 1900LL, fields.tm_mon + 1, 1));
        ASSERT_EQ(date.year, fields.tm_year + 1900LL);
        ASSERT_EQ(date.month, static_cast<unsigned>(fields.tm_mon + 1));
        ASSERT_EQ(date.day, 1u);
    }
}

// Fields out of their ranges carry over as timegm carries them: month 13 is
// January of the next year, day 0 the last day of the month before, hour 25
// one hour into the next day.
TEST(CivilTimeTest, NormalisesFieldsAsTimegm)
{
    std::mt19937_64 rng(2038);
    std::uniform_int_distribution<int> year(-300, 2400), month(-30, 40), day(-40, 70), hour(-30, 50),
        minute(-90, 150), second(-100, 160);
    for (int i = 0; i < 100000; ++i) {
        tm fields{};
        fields.tm_year = year(rng) - 1900;
        fields.tm_mon = month(rng) - 1;
        fields.tm_mday = day(rng);
        fields.tm_hour = hour(rng);
        fields.tm_min = minute(rng);
        fields.tm_sec = second(rng);
        tm copy = fields;
        const std::int64_t expected = timegm(&copy);
        ASSERT_EQ(seconds_from_civil(fields.tm_year + 1900LL, fields.tm_mon + 1, fields.tm_mday,
                                     fields.tm_hour, fields.tm_min, fields.tm_sec),
                  expected)
            << fields.tm_year + 1900 << "-" << fields.tm_mon + 1 << "-" << fields.tm_mday << " "
            << fields.tm_hour << ":" << fields.tm_min << ":" << fields.tm_sec;
    }
    char digits[8];
    EXPECT_EQ(module_text(-62135596800), "0001-01-01 00:00:00") << "years have at least four digits";
    EXPECT_EQ(module_text(-62167219201), "-0001-12-31 23:59:59");
    EXPECT_EQ(module_text(253402300800), "10000-01-01 00:00:00");
    EXPECT_EQ(std::string(digits, put_digits(digits, 7, 3)), "007");
    EXPECT_EQ(std::string(digits, put_digits(digits, 12345, 4)), "2345") << "the lowest digits";
}
