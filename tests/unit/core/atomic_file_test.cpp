#include "core/atomic_file.hpp"
#include "core/exception.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;
using zav::libs::core::write_file_atomically;

namespace {

class AtomicFileTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "atomic_file_test.XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_dir = pattern;
    }
    void TearDown() override { fs::remove_all(m_dir); }

    std::string read(const fs::path& _path)
    {
        std::ifstream in(_path);
        std::stringstream content;
        content << in.rdbuf();
        return content.str();
    }
    std::size_t entries() { return std::distance(fs::directory_iterator(m_dir), fs::directory_iterator()); }

    fs::path m_dir;
};

}  // namespace

TEST_F(AtomicFileTest, ReplacesTheWholeContentAndLeavesNoTemporary)
{
    const auto file = (m_dir / "state.bin").string();
    write_file_atomically(file, [](std::ostream& os) { os << "first version, longer than the second"; });
    write_file_atomically(file, [](std::ostream& os) { os << "second"; });
    EXPECT_EQ(read(file), "second");
    EXPECT_EQ(entries(), 1u);
}

TEST_F(AtomicFileTest, AFailingWriterKeepsTheOldFile)
{
    const auto file = (m_dir / "state.bin").string();
    write_file_atomically(file, [](std::ostream& os) { os << "old"; });
    EXPECT_THROW(write_file_atomically(file,
                                       [](std::ostream& os) {
                                           os << "half";
                                           throw std::runtime_error("disk full");
                                       }),
                 std::runtime_error);
    EXPECT_EQ(read(file), "old");
    EXPECT_EQ(entries(), 1u);
}

TEST_F(AtomicFileTest, RemovesLeftoversOfAnEarlierCrashOnly)
{
    const auto file = (m_dir / "state.bin").string();
    std::ofstream(m_dir / "state.bin.tmp.Ab12Cd") << "left by a crash";
    std::ofstream(m_dir / "other.bin.tmp.Ab12Cd") << "another file's";
    write_file_atomically(file, [](std::ostream& os) { os << "new"; });
    EXPECT_FALSE(fs::exists(m_dir / "state.bin.tmp.Ab12Cd"));
    EXPECT_TRUE(fs::exists(m_dir / "other.bin.tmp.Ab12Cd"));
    EXPECT_EQ(read(file), "new");
}

TEST_F(AtomicFileTest, AMissingDirectoryIsReportedWithTheFileName)
{
    const auto file = (m_dir / "missing" / "state.bin").string();
    try {
        write_file_atomically(file, [](std::ostream& os) { os << "x"; });
        FAIL() << "expected an exception";
    } catch (const zav::libs::core::exception& e) {
        EXPECT_NE(e.get_string_error().find(file), std::string::npos) << e.get_string_error();
        EXPECT_NE(e.get_string_error().find("No such file or directory"), std::string::npos)
            << e.get_string_error();
    }
}

TEST_F(AtomicFileTest, APreparedFileReplacesTheOldOneOnlyOnCommit)
{
    const auto file = (m_dir / "state.bin").string();
    write_file_atomically(file, "old");
    {
        zav::libs::core::prepared_file dropped(file, "never committed");
        EXPECT_EQ(read(file), "old");
    }
    EXPECT_EQ(read(file), "old");
    EXPECT_EQ(entries(), 1u) << "a prepared file dropped without commit leaves nothing behind";

    zav::libs::core::prepared_file prepared(file, "new");
    EXPECT_EQ(read(file), "old") << "written ahead, but not in place yet";
    auto moved = std::move(prepared);
    moved.commit();
    EXPECT_EQ(read(file), "new");
    EXPECT_EQ(entries(), 1u);

    EXPECT_THROW(zav::libs::core::prepared_file((m_dir / "missing" / "state.bin").string(), "x"),
                 zav::libs::core::exception);
}
