#include "batch/input_removal.hpp"

#include "support/files.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <filesystem>

using namespace zav;
namespace fs = std::filesystem;

namespace {

// What remove_input does with _name after it was opened as _opened_as.
input_removal removal_of(const fs::path& _opened_as, const fs::path& _name)
{
    const csv_line_reader reader(_opened_as.string());
    return remove_input(_name.string(), reader.opened());
}

}  // namespace

TEST(InputRemovalTest, OnlyTheRegularFileThatWasReadIsDeleted)
{
    const trackmend_test::temporary_directory dir("input_removal_test");
    const auto in = dir / "in.csv";
    trackmend_test::write_file(in, "data\n");
    EXPECT_EQ(removal_of(in, in), input_removal::removed);
    EXPECT_FALSE(fs::exists(in));

    trackmend_test::write_file(in, "data\n");
    fs::create_symlink(in, dir / "link.csv");
    EXPECT_EQ(removal_of(dir / "link.csv", dir / "link.csv"), input_removal::kept_not_regular);
    EXPECT_TRUE(fs::is_symlink(dir / "link.csv")) << "a symbolic link is never deleted";
    EXPECT_TRUE(fs::exists(in)) << "nor the file it points to";

    {
        // Moved away and replaced by a new file while it was read.
        const csv_line_reader reader(in.string());
        fs::rename(in, dir / "rotated.csv");
        trackmend_test::write_file(in, "new data\n");
        EXPECT_EQ(remove_input(in.string(), reader.opened()), input_removal::kept_replaced);
        EXPECT_EQ(trackmend_test::read_file(in), "new data\n");
        fs::remove(in);
        EXPECT_EQ(remove_input(in.string(), reader.opened()), input_removal::kept_replaced) << "gone";
    }

    EXPECT_EQ(removal_of("/proc/self/status", "/proc/self/status"), input_removal::kept_not_regular);

    const auto device = dir / "null";
    if (::mknod(device.c_str(), S_IFCHR | 0666, ::makedev(1, 3)) != 0)
        GTEST_SKIP() << "cannot make a device node here (not root?)";
    EXPECT_EQ(removal_of(device, device), input_removal::kept_not_regular);
    EXPECT_EQ(fs::symlink_status(device).type(), fs::file_type::character);
}
