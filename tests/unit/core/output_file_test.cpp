#include "core/output_file.hpp"

#include "support/files.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <string>

using trackmend_test::read_file;
using zav::libs::core::output_file;

namespace {

std::size_t files_in(const std::filesystem::path& _dir)
{
    return static_cast<std::size_t>(
        std::distance(std::filesystem::directory_iterator(_dir), std::filesystem::directory_iterator()));
}

}  // namespace

TEST(OutputFileTest, AppearsOnlyWhenCommitted)
{
    const trackmend_test::temporary_directory dir("output_file_test");
    const auto path = dir / "out.csv";
    trackmend_test::write_file(path, "old content\n");
    {
        output_file file(path.string());
        for (int i = 0; i < 20000; ++i) file.write("line " + std::to_string(i) + "\n");
        EXPECT_EQ(read_file(path), "old content\n") << "the old file stays until the commit";
        file.commit(true);
    }
    const std::string content = read_file(path);
    EXPECT_EQ(std::count(content.begin(), content.end(), '\n'), 20000);
    EXPECT_EQ(files_in(dir.path()), 1u) << "no temporary file left";
}

TEST(OutputFileTest, FailuresNameTheFileAndTheReason)
{
    const trackmend_test::temporary_directory dir("output_file_test");
    const auto missing_dir = (dir / "no-such-dir" / "out.csv").string();
    try {
        output_file file(missing_dir);
        FAIL() << "creating in a missing directory must throw";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find(missing_dir), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("No such file or directory"), std::string::npos) << e.what();
    }

    std::filesystem::create_directories(dir / "a-directory" / "inside");
    output_file onto_directory((dir / "a-directory").string());
    onto_directory.write("x");
    EXPECT_THROW(onto_directory.commit(false), std::runtime_error);
    EXPECT_TRUE(std::filesystem::is_directory(dir / "a-directory" / "inside"));
}
