#include "batch/csv_line_reader.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using zav::csv_line_reader;

namespace {

class CsvLineReaderTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_dir =
            std::filesystem::temp_directory_path() / ("csv_line_reader_test." + std::to_string(::getpid()));
        std::filesystem::create_directories(m_dir);
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }

    std::string write(const std::string& _content)
    {
        const auto path = (m_dir / "in.csv").string();
        std::ofstream(path, std::ios::binary) << _content;
        return path;
    }

    static std::vector<std::string> read_all(csv_line_reader& _reader)
    {
        std::vector<std::string> lines;
        while (const auto line = _reader.next_line()) lines.emplace_back(*line);
        return lines;
    }

    std::filesystem::path m_dir;
};

}  // namespace

TEST_F(CsvLineReaderTest, SplitsLinesAcrossBlocks)
{
    // Lines of many lengths so that line ends fall everywhere relative to the
    // read blocks, and a last line without a line end.
    std::vector<std::string> expected;
    std::string content;
    for (int i = 0; content.size() < 5 * 1024 * 1024; ++i) {
        expected.push_back(
            std::string(static_cast<std::size_t>(i * 7919 % 3001), 'a' + static_cast<char>(i % 26)));
        content += expected.back() + "\n";
    }
    expected.push_back("");
    content += "\n";
    expected.push_back("last line");
    content += "last line";

    csv_line_reader reader(write(content));
    EXPECT_FALSE(reader.at_end());
    EXPECT_EQ(read_all(reader), expected);
    EXPECT_TRUE(reader.at_end());
    EXPECT_FALSE(reader.next_line()) << "stays at the end";

    // The look ahead shows the start of the next line wherever the blocks
    // end, and nothing after the last.
    csv_line_reader ahead(write(content));
    for (std::size_t i = 0; ahead.next_line(); ++i) {
        const std::string_view unread = ahead.unread();
        const std::string next = i + 1 < expected.size() ? expected[i + 1] : "";
        ASSERT_EQ(unread.substr(0, std::min(unread.size(), next.size())),
                  std::string_view(next).substr(0, std::min(unread.size(), next.size())))
            << "after line " << i;
    }
    EXPECT_TRUE(ahead.unread().empty());
}

TEST_F(CsvLineReaderTest, EmptyFileAndOverlongLines)
{
    csv_line_reader empty(write(""));
    EXPECT_TRUE(read_all(empty).empty());
    EXPECT_TRUE(empty.at_end());

    const std::string huge(csv_line_reader::max_line_length + 10, 'x');
    csv_line_reader reader(write("first\n" + huge + "\nafter\n" + huge));
    const auto lines = read_all(reader);
    EXPECT_TRUE(lines == (std::vector<std::string>{"first", "after"})) << lines.size() << " lines";
    EXPECT_EQ(reader.lines(), 4u) << "skipped lines are counted, the last one without a line end too";

    csv_line_reader ending_long(write("first\n" + huge + "\n"));
    EXPECT_EQ(read_all(ending_long).size(), 1u);
    EXPECT_EQ(ending_long.lines(), 2u);
}
