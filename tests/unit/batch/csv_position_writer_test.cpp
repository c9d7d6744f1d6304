#include "batch/csv_position_writer.hpp"

#include "support/files.hpp"
#include "support/positions.hpp"

#include <gtest/gtest.h>
#include <boost/optional/optional_io.hpp>

#include <sys/stat.h>
#include <climits>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

using namespace zav;
using zav::test::ms;
using zav::test::pos;

using trackmend_test::read_file;

TEST(CsvPositionWriterTest, FixedWidthLine)
{
    position p = pos("T1", ms(1714564800007), 10, -5);
    p.area_uid = "A";
    p.inactive = 0;
    EXPECT_EQ(csv_position_writer::format(p), std::string(20, ' ') + "T1|" + std::string(10, ' ') +
                                                  "\\N|2024-05-01 12:00:00.007000|     10|     -5|     \\N|" +
                                                  std::string(21, ' ') + "A|" + std::string(20, ' ') +
                                                  "\\N|      0\n");

    position wide = pos("a-uid-longer-than-twenty-two", ms(0), -1234567890, 7);
    wide.mac_address = "D8:80:39:D8:42:9E";
    wide.z = 1200;
    wide.area_uid = "";
    wide.project_uid = "\\N";
    wide.inactive = -32768;
    EXPECT_EQ(csv_position_writer::format(wide),
              "a-uid-longer-than-twenty-two|D8:80:39:D8:42:9E|1970-01-01 00:00:00.000000|-1234567890|      7|"
              "   1200|" +
                  std::string(22, ' ') + "|" + std::string(20, ' ') + "\\N| -32768\n")
        << "long texts are not cut; empty texts are blanks only";
}

TEST(CsvPositionWriterTest, NumbersAndTextsOfEveryLengthAsPaddedDecimalText)
{
    const auto padded = [](const std::string& _text, std::size_t _width) {
        return std::string(_width > _text.size() ? _width - _text.size() : 0, ' ') + _text;
    };
    for (const int v : {0,        5,  9,  10,  99,  100,  1000,   99999,   999999,   1000000, 9999999,
                        10000000, -1, -9, -10, -99, -100, -99999, -999999, -1000000, INT_MAX, INT_MIN}) {
        position p = pos("T", ms(0), v, -v / 3);
        p.z = v / 7;
        p.inactive = static_cast<short>(v);
        const std::string line = csv_position_writer::format(p);
        ASSERT_EQ(line.substr(63), padded(std::to_string(v), 7) + "|" + padded(std::to_string(-v / 3), 7) +
                                       "|" + padded(std::to_string(v / 7), 7) + "|" + std::string(20, ' ') +
                                       "\\N|" + std::string(20, ' ') + "\\N|" +
                                       padded(std::to_string(static_cast<short>(v)), 7) + "\n")
            << v;
    }
    for (std::size_t length = 0; length <= 40; ++length) {
        std::string text;
        for (std::size_t i = 0; i < length; ++i) text += static_cast<char>('a' + i % 26);
        position p = pos(text, ms(0));
        p.mac_address = text;
        const std::string line = csv_position_writer::format(p);
        ASSERT_EQ(line.substr(0, line.find("|1970")), padded(text, 22) + "|" + padded(text, 12)) << length;
    }
}

TEST(CsvPositionWriterTest, TimeMatchesTheTimestampTextForm)
{
    std::mt19937_64 random(3);
    // Up to the year 9999, plus the edges of days, months and leap years.
    std::uniform_int_distribution<long long> counts(0, 253402300799999);
    std::vector<long long> samples = {0, 951782400000, 951868799999, 4107542400000, 253402300799999};
    for (int i = 0; i < 20000; ++i) samples.push_back(counts(random));
    for (const long long c : samples) {
        const timestamp ts{ms(c)};
        const std::string line = csv_position_writer::format(pos("T", ms(c)));
        ASSERT_EQ(line.substr(36, 26), ts.to_iso_8601_string(true) + "000") << c;
    }
}

TEST(CsvPositionWriterTest, StreamedLinesMatchSingleLines)
{
    const trackmend_test::temporary_directory dir("csv_position_writer_test");
    // One writer over many lines: times that stay in a second, move on and
    // jump back (the writer keeps the text of the last second), texts from
    // empty to far wider than their columns, numbers of every width; every
    // other line handed over as a record with interned texts, as batch mode
    // does, the others as positions.
    std::mt19937_64 random(9);
    const auto pick = [&](long long _low, long long _high) {
        return std::uniform_int_distribution<long long>(_low, _high)(random);
    };
    const auto text = [&] { return std::string(static_cast<std::size_t>(pick(0, 40)), "ab-:"[pick(0, 3)]); };
    std::vector<position> written;
    long long t = 1714564800000;
    for (int i = 0; i < 30000; ++i) {
        t += pick(0, 9) == 0 ? pick(-5000, 5000) : pick(0, 3);
        position p =
            pos(text(), ms(t), static_cast<int>(pick(INT32_MIN, INT32_MAX)), static_cast<int>(pick(-9, 9)));
        if (pick(0, 1)) p.mac_address = text();
        if (pick(0, 1)) p.z = static_cast<int>(pick(-1000000, 1000000));
        if (pick(0, 1)) p.area_uid = text();
        if (pick(0, 1)) p.project_uid = text();
        if (pick(0, 1)) p.inactive = static_cast<short>(pick(-32768, 32767));
        written.push_back(p);
    }
    const auto path = dir / "streamed.csv";
    {
        output_file file(path.string());
        csv_position_writer writer(file);
        record_strings strings;
        for (std::size_t i = 0; i < written.size(); ++i) {
            if (i % 2 == 0) {
                writer.write(written[i]);
            } else {
                writer.write(strings.record_of(written[i]), strings);
            }
        }
        writer.flush();
        file.commit(false);
    }
    std::istringstream content(read_file(path));
    std::string line;
    for (const position& p : written) {
        ASSERT_TRUE(std::getline(content, line));
        line += '\n';
        ASSERT_EQ(line, csv_position_writer::format(p));
    }
    EXPECT_FALSE(std::getline(content, line)) << "no line more than written";
}
