#include "core/output_file.hpp"

#include "support/files.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

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
    EXPECT_THROW(output_file((dir / "a-directory").string()), std::runtime_error);
    EXPECT_TRUE(std::filesystem::is_directory(dir / "a-directory" / "inside"));
}

TEST(OutputFileTest, TemporaryNamesFitBesideTheLongestName)
{
    const trackmend_test::temporary_directory dir("output_file_test");
    const auto path = dir / std::string(255, 'n');
    output_file file(path.string());
    file.write("content\n");
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        EXPECT_LE(entry.path().filename().string().size(), 40u) << "a short temporary name";
    file.commit(false);
    EXPECT_EQ(read_file(path), "content\n");
    EXPECT_EQ(files_in(dir.path()), 1u);
}

// A writer killed before its commit leaves its temporary file; a later one
// removes it once that process is gone, and never another live writer's.
TEST(OutputFileTest, LeftoversOfEndedProcessesAreRemoved)
{
    const trackmend_test::temporary_directory dir("output_file_test");
    const auto path = (dir / "out.csv").string();
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        output_file killed(path);
        killed.write("half of it");
        ::_exit(0);  // as if killed: no destructor runs
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    const std::string ended = std::to_string(child);
    // As earlier versions named them.
    trackmend_test::write_file(dir / ("out.csv.tmp." + ended), "left by an earlier version");
    trackmend_test::write_file(dir / ("out.csv.tmp." + ended + ".1"), "and another");
    trackmend_test::write_file(dir / "out.csv.tmp.1", "of pid 1, alive");
    trackmend_test::write_file(dir / "out.csv.tmp.notapid", "not ours to judge");
    trackmend_test::write_file(dir / ("other.csv.tmp." + ended), "another name's");
    output_file live(path);
    ASSERT_EQ(files_in(dir.path()), 7u) << "the killed writer's temporary file is there";

    output_file::remove_leftovers(path, output_file::leftovers::of_ended_processes);
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    ASSERT_EQ(names.size(), 4u);
    EXPECT_EQ(names[0].rfind(".trackmend-", 0), 0u) << "the live writer's temporary file stays";
    EXPECT_EQ(names[1], "other.csv.tmp." + ended);
    EXPECT_EQ(names[2], "out.csv.tmp.1");
    EXPECT_EQ(names[3], "out.csv.tmp.notapid");
    live.commit(false);

    output_file::remove_leftovers(path, output_file::leftovers::all);
    EXPECT_EQ(files_in(dir.path()), 2u) << "all of a name's leftovers, for single writers";
}

// Only a regular file is replaced: a device or a FIFO, also behind a
// symbolic link, is written to; anything else is refused, and a name that
// becomes a device before the commit is not renamed over.
TEST(OutputFileTest, OnlyRegularFilesAreReplaced)
{
    const trackmend_test::temporary_directory dir("output_file_test");
    const auto device = dir / "null";
    if (::mknod(device.c_str(), S_IFCHR | 0666, ::makedev(1, 3)) != 0)
        GTEST_SKIP() << "cannot make a device node here (not root?)";
    const auto is_device = [](const std::filesystem::path& _p) {
        return std::filesystem::symlink_status(_p).type() == std::filesystem::file_type::character;
    };

    for (const auto& name : {device, dir / "link-to-null"}) {
        if (name != device) std::filesystem::create_symlink(device, name);
        output_file file(name.string());
        file.write("discarded\n");
        file.sync();
        file.commit(true);
    }
    EXPECT_TRUE(is_device(device));
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "link-to-null"));

    const auto fifo = dir / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::string received;
    std::thread reader([&] { received = read_file(fifo); });
    {
        output_file file(fifo.string());
        file.write("through the fifo\n");
        file.commit(true);
    }
    reader.join();
    EXPECT_EQ(received, "through the fifo\n");
    EXPECT_EQ(std::filesystem::symlink_status(fifo).type(), std::filesystem::file_type::fifo);

    trackmend_test::write_file(dir / "target.csv", "target\n");
    std::filesystem::create_symlink(dir / "target.csv", dir / "link.csv");
    try {
        output_file refused((dir / "link.csv").string());
        ADD_FAILURE() << "a symbolic link to a regular file must be refused";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("symbolic link"), std::string::npos) << e.what();
    }
    std::filesystem::create_symlink(dir / "nothing.csv", dir / "dangling.csv");
    EXPECT_THROW(output_file((dir / "dangling.csv").string()), std::runtime_error);
    EXPECT_EQ(read_file(dir / "link.csv"), "target\n");
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "dangling.csv"));

    const auto taken = dir / "taken";
    {
        output_file file(taken.string());
        file.write("never in place\n");
        ASSERT_EQ(::mknod(taken.c_str(), S_IFCHR | 0666, ::makedev(1, 3)), 0);
        EXPECT_THROW(file.commit(false), std::runtime_error);
    }
    EXPECT_TRUE(is_device(taken)) << "a device that took the name is not renamed over";
    EXPECT_EQ(files_in(dir.path()), 7u) << "no temporary file left";
}
