#include "batch/csv_position_parser.hpp"

#include <gtest/gtest.h>
#include <boost/optional/optional_io.hpp>

#include <cmath>
#include <cstdio>
#include <ctime>
#include <random>
#include <sstream>
#include <string>
#include <vector>

using namespace zav;
using std::chrono::milliseconds;

namespace {

// The time text read literally as the batch format defines it: sscanf, a
// float for the seconds, roundf in single precision, timegm.
std::optional<long long> literal_time(const std::string& _text)
{
    int year, month, day, hour, minute;
    float seconds;
    if (std::sscanf(_text.c_str(), "%d-%d-%d %d:%d:%fZ", &year, &month, &day, &hour, &minute, &seconds) < 6)
        return std::nullopt;
    tm fields{};
    fields.tm_year = year - 1900;
    fields.tm_mon = month - 1;
    fields.tm_mday = day;
    fields.tm_hour = hour;
    fields.tm_min = minute;
    fields.tm_sec = static_cast<int>(seconds);
    fields.tm_isdst = -1;
    const float fraction = seconds - static_cast<float>(fields.tm_sec);
    const auto ms = static_cast<unsigned>(std::roundf(fraction * 1000.0f));
    return static_cast<long long>(timegm(&fields)) * 1000 + ms;
}

// The line read literally: fifteen std::getline calls on a string stream.
// Only the text fields and x are compared; the other fields have tests of
// their own.
struct literal_fields
{
    std::string uid;
    std::string area;
    std::string project;
    std::optional<int> x;  // as stoi reads it; empty when it throws
    bool x_null = false;
};

std::optional<literal_fields> literal_line(const std::string& _line)
{
    std::istringstream in(_line);
    std::vector<std::string> fields(15);
    for (auto& field : fields)
        if (!std::getline(in, field, '|')) return std::nullopt;
    literal_fields f;
    f.uid = fields[0];
    f.area = fields[12];
    f.project = fields[13];
    f.x_null = fields[9] == "\\N";
    if (!f.x_null) {
        try {
            f.x = std::stoi(fields[9]);
        } catch (const std::exception&) {
        }
    }
    return f;
}

long long count(const std::optional<timestamp>& _ts) { return _ts->get_time_since_epoch().count(); }

const std::string valid_line = "T1|AA:BB|2024-05-01 12:00:00.007|1|f|\\N|\\N|\\N|UWB|10|-5|\\N|A|\\N|0";

}  // namespace

TEST(CsvPositionParserTest, NumbersFollowStoi)
{
    EXPECT_EQ(parse_stoi_like("42"), 42);
    EXPECT_EQ(parse_stoi_like("  \t-17xyz"), -17) << "leading blanks, sign, trailing text ignored";
    EXPECT_EQ(parse_stoi_like("+8"), 8);
    EXPECT_EQ(parse_stoi_like("2147483647"), 2147483647);
    EXPECT_EQ(parse_stoi_like("-2147483648"), -2147483647 - 1);
    EXPECT_EQ(parse_stoi_like("007"), 7);
    for (const char* bad :
         {"", " ", "x1", "- 1", "+-1", "2147483648", "-2147483649", "99999999999999999999999"})
        EXPECT_EQ(parse_stoi_like(bad), std::nullopt) << '"' << bad << '"';
}

TEST(CsvPositionParserTest, TimesAsTheFormatDefinesThem)
{
    EXPECT_EQ(count(parse_csv_timestamp("2024-05-01 12:00:00.007")), 1714564800007);
    EXPECT_EQ(count(parse_csv_timestamp("2024-05-01 12:00:00.007Z")), 1714564800007);
    EXPECT_EQ(count(parse_csv_timestamp("2024-05-01 12:00:00.5")), 1714564800500) << "no Z needed";
    EXPECT_EQ(count(parse_csv_timestamp("2024-05-01 \t 12:00:00")), 1714564800000) << "any run of blanks";
    EXPECT_EQ(count(parse_csv_timestamp("2024-05-01 12:00:59.9996")), 1714564860000)
        << "rounds to next second";
    EXPECT_EQ(count(parse_csv_timestamp("2023-13-01 00:00:00")), 1704067200000) << "month 13 is January";
    EXPECT_EQ(count(parse_csv_timestamp("2024-03-00 00:00:00")),
              count(parse_csv_timestamp("2024-02-29 00:00:00")));
    for (const char* bad : {"", "2024-05-01T12:00:00", "2024-05-01 12:00", "2024/05/01 12:00:00",
                            "2024-05-01 12:00:xx", "2024-05-01 12:00:inf", "2024-05-01 12:00:nan",
                            "2147483647-05-01 12:00:00", "2024-05-01 12:00:1e30"})
        EXPECT_EQ(parse_csv_timestamp(bad), std::nullopt) << '"' << bad << '"';
}

// Only times from 1970 to the year 9999 are positions: the daemon skips
// earlier rows as invalid, and later years would need a fifth digit.
TEST(CsvPositionParserTest, TimesOutsideTheYears1970To9999AreInvalid)
{
    for (const char* bad : {"0000-00-00 00:00:00.000", "0000-00-00 00:00:00", "0001-01-01 00:00:00.000",
                            "1969-12-31 23:59:59.999", "0999-05-01 12:00:00", "10000-01-01 00:00:00",
                            "9999-12-31 23:59:60", "1970-01-00 00:00:00"})
        EXPECT_EQ(parse_csv_timestamp(bad), std::nullopt) << '"' << bad << '"';
    EXPECT_EQ(count(parse_csv_timestamp("1970-01-01 00:00:00.000")), 0);
    EXPECT_EQ(count(parse_csv_timestamp("9999-12-31 23:59:59.999")), 253402300799999);
    EXPECT_EQ(count(parse_csv_timestamp("1969-13-01 00:00:00")), 0) << "normalised into 1970";
}

TEST(CsvPositionParserTest, LineFields)
{
    const auto p = parse_csv_position(valid_line);
    ASSERT_TRUE(p);
    position expected;
    expected.trackable_uid = "T1";
    expected.mac_address = "AA:BB";
    expected.ts = timestamp(milliseconds(1714564800007));
    expected.x = 10;
    expected.y = -5;
    expected.area_uid = "A";
    expected.project_uid = "\\N";  // text fields keep \N as text
    expected.inactive = 0;
    EXPECT_EQ(*p, expected);

    const auto empty_texts =
        parse_csv_position("||2024-05-01 12:00:00|1|f|\\N|\\N|\\N|UWB|\\N|\\N|\\N|||\\N");
    ASSERT_TRUE(empty_texts);
    EXPECT_EQ(empty_texts->trackable_uid, "");
    EXPECT_EQ(empty_texts->mac_address, std::string(""));
    EXPECT_EQ(empty_texts->x, boost::none);
    EXPECT_EQ(empty_texts->inactive, boost::none);

    EXPECT_TRUE(parse_csv_position(valid_line + "|extra|fields")) << "fields after the fifteenth are ignored";
    EXPECT_TRUE(parse_csv_position(valid_line + "|"));
    EXPECT_TRUE(parse_csv_position(valid_line + "\r")) << "CR LF line ends";
    EXPECT_EQ(parse_csv_position(valid_line.substr(0, valid_line.size() - 1) + "\\N\r")->inactive,
              boost::none);
    EXPECT_EQ(parse_csv_position(valid_line.substr(0, valid_line.size() - 1) + " 12abc")->inactive,
              short(12));
}

TEST(CsvPositionParserTest, SkippedLines)
{
    auto with_field = [](int _index, const std::string& _value) {
        std::size_t begin = 0;
        for (int i = 0; i < _index; ++i) begin = valid_line.find('|', begin) + 1;
        std::string line = valid_line;
        return line.replace(begin, std::min(line.find('|', begin), line.size()) - begin, _value);
    };
    ASSERT_TRUE(parse_csv_position(with_field(0, "T1")));
    EXPECT_FALSE(parse_csv_position(with_field(8, "BLE"))) << "kind must be UWB";
    EXPECT_FALSE(parse_csv_position(with_field(8, "UWB "))) << "kind must be exactly UWB";
    EXPECT_FALSE(parse_csv_position(with_field(9, ""))) << "empty x";
    EXPECT_FALSE(parse_csv_position(with_field(10, "abc"))) << "y not a number";
    EXPECT_FALSE(parse_csv_position(with_field(11, "\\N "))) << "z neither null nor number";
    EXPECT_FALSE(parse_csv_position(with_field(9, "3000000000"))) << "x beyond int";
    EXPECT_FALSE(parse_csv_position(with_field(2, "2024-05-01T12:00:00"))) << "T separator";
    EXPECT_FALSE(parse_csv_position(with_field(14, ""))) << "empty last field";
    EXPECT_FALSE(parse_csv_position(valid_line.substr(0, valid_line.rfind('|')))) << "14 fields";
    EXPECT_FALSE(parse_csv_position(""));
}

// Lines of another kind are told from malformed ones, for the summary.
TEST(CsvPositionParserTest, LinesOfOtherKindsAreNotMalformed)
{
    const auto kind_of = [](const std::string& _line) {
        record_strings strings;
        std::vector<position_record> records;
        const csv_line kind = append_csv_record(_line, strings, records);
        EXPECT_EQ(records.size(), kind == csv_line::position ? 1u : 0u) << _line;
        return kind;
    };
    EXPECT_EQ(kind_of(valid_line), csv_line::position);
    const std::string heartbeat = "T1|AA:BB|2024-05-01 12:00:00.007|1|f|\\N|\\N|\\N|HB|\\N|\\N|\\N|A|\\N|0";
    EXPECT_EQ(kind_of(heartbeat), csv_line::other_kind);
    EXPECT_EQ(kind_of("T1|AA:BB|garbage|1|f|\\N|\\N|\\N|BLE"), csv_line::other_kind)
        << "the kind decides, whatever the other fields";
    EXPECT_EQ(kind_of("T1|AA:BB|2024-05-01 12:00:00|1|f|\\N|\\N|\\N|UWB|1|2"), csv_line::malformed);
    EXPECT_EQ(kind_of("T1|AA:BB|2024-05-01 12:00:00|1|f|\\N|\\N|\\N"), csv_line::malformed) << "no kind";
    std::string zero_date = valid_line;
    zero_date.replace(zero_date.find("2024-05-01 12:00:00.007"), 23, "0000-00-00 00:00:00.000");
    EXPECT_EQ(kind_of(zero_date), csv_line::malformed);
    EXPECT_EQ(kind_of(""), csv_line::malformed);
}

TEST(CsvPositionParserTest, TimesMatchSscanfAndTimegm)
{
    std::mt19937 random(11);
    auto pick = [&](int _low, int _high) { return std::uniform_int_distribution<int>(_low, _high)(random); };
    const auto expect_literal = [](const char* _text) {
        const auto literal = literal_time(_text);
        const auto fast = parse_csv_timestamp(_text);
        ASSERT_TRUE(literal) << _text;
        if (*literal < 0 || *literal >= 253402300800000) {
            ASSERT_EQ(fast, std::nullopt) << _text << " lies outside the years 1970 to 9999";
            return;
        }
        ASSERT_TRUE(fast) << _text;
        ASSERT_EQ(count(fast), *literal) << _text;
    };
    // Canonical texts: every second and millisecond of a minute, on dates
    // that change from one text to the next and back, so that no day count
    // is reused for the wrong date; out-of-range fields included.
    const char* dates[] = {"2024-05-01", "2024-05-02", "1970-01-01", "2000-02-29",
                           "2023-13-00", "9999-12-31", "0000-01-01", "2024-00-99"};
    char text[128];
    for (int second = 0; second < 100; ++second) {
        for (int millisecond = 0; millisecond < 1000; ++millisecond) {
            std::snprintf(text, sizeof text, "%s %02d:%02d:%02d.%03d%s", dates[pick(0, 7)], pick(0, 99),
                          pick(0, 99), second, millisecond, pick(0, 1) ? "Z" : "");
            ASSERT_NO_FATAL_FAILURE(expect_literal(text));
        }
    }
    // Random fields, blanks and fraction lengths: the general way, which
    // must normalise out-of-range fields as timegm does.
    const char* blanks[] = {" ", "  ", "\t", " \t "};
    for (int i = 0; i < 20000; ++i) {
        std::snprintf(text, sizeof text, "%d-%d-%d%s%d:%d:%d.%0*d%s", pick(1970, 2200), pick(-3, 27),
                      pick(-5, 70), blanks[pick(0, 3)], pick(0, 30), pick(0, 75), pick(0, 70), pick(1, 7),
                      pick(0, 9999999), pick(0, 1) ? "Z" : "");
        ASSERT_NO_FATAL_FAILURE(expect_literal(text));
    }
    // Near misses of the canonical form take the general way.
    EXPECT_EQ(count(parse_csv_timestamp("2024-05-01 12:00:00.0071")), 1714564800007);
    EXPECT_EQ(count(parse_csv_timestamp("2024-05-01 12:00:00.007e1")), 1714564800070);
    EXPECT_EQ(count(parse_csv_timestamp("2024-05-01 12:00:00.007 ")), 1714564800007);
    EXPECT_EQ(parse_csv_timestamp("2024-05-01T12:00:00.007"), std::nullopt);
}

TEST(CsvPositionParserTest, RandomLinesSplitAsGetlineDoes)
{
    // Lines of random fields, long and short, with delimiters anywhere and
    // numbers of every kind, against the literal reading.
    std::mt19937 random(5);
    auto pick = [&](int _low, int _high) { return std::uniform_int_distribution<int>(_low, _high)(random); };
    const std::vector<std::string> numbers = {
        "0",           "-1",         "12",          "123456789", "-123456789", "1234567890", "2147483647",
        "-2147483648", "2147483648", "99999999999", " 5",        "+5",         "-",          "",
        "x",           "7abc",       "00000000012", "\\N"};
    const auto text = [&] {
        std::string t(static_cast<std::size_t>(pick(0, 40)), 'a');
        for (char& c : t) c = "abcXYZ-_ .0"[pick(0, 10)];
        return t;
    };
    int accepted = 0;
    for (int i = 0; i < 20000; ++i) {
        const int fields = pick(12, 17);
        std::string line;
        for (int f = 0; f < fields; ++f) {
            std::string field;
            if (f == 2)
                field = "2024-05-01 12:00:00.007";
            else if (f == 8)
                field = "UWB";
            else if (f >= 9 && f <= 11)
                field = numbers[static_cast<std::size_t>(pick(0, static_cast<int>(numbers.size()) - 1))];
            else if (f == 14)
                field = pick(0, 3) ? "0" : "";
            else
                field = text();
            line += field;
            if (f + 1 < fields || pick(0, 1)) line += '|';
        }
        const auto literal = literal_line(line);
        const auto parsed = parse_csv_position(line);
        if (!literal || (!literal->x && !literal->x_null)) {
            ASSERT_FALSE(parsed) << line;
            continue;
        }
        if (!parsed) continue;  // y, z or inactive not a number
        ++accepted;
        ASSERT_EQ(parsed->trackable_uid, literal->uid) << line;
        ASSERT_EQ(parsed->area_uid, literal->area) << line;
        ASSERT_EQ(parsed->project_uid, literal->project) << line;
        ASSERT_EQ(parsed->x ? std::optional<int>(*parsed->x) : std::nullopt, literal->x) << line;
    }
    EXPECT_GT(accepted, 1000) << "too few lines parsed to compare";
}
