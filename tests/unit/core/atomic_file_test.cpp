#include "core/atomic_file.hpp"
#include "core/background_file_write.hpp"
#include "core/exception.hpp"

#include "support/failing_file_system.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using trackmend_test::failing_file_system;
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

TEST_F(AtomicFileTest, StepsRunInTheDurableOrder)
{
    failing_file_system recorder;
    write_file_atomically((m_dir / "state.bin").string(), "content", recorder);
    EXPECT_EQ(recorder.steps(),
              (std::vector<std::string>{"create", "write", "sync", "close", "rename", "sync_directory"}));
}

TEST_F(AtomicFileTest, AFailingStepLosesNothingAndLeavesNothingHalfWritten)
{
    const auto file = (m_dir / "state.bin").string();
    using step = failing_file_system::step;
    for (const step failing : {step::create, step::write, step::sync, step::close, step::rename}) {
        SCOPED_TRACE(failing_file_system::name(failing));
        write_file_atomically(file, "old content");
        failing_file_system disk(failing);
        try {
            write_file_atomically(file, "new content, longer than the old", disk);
            ADD_FAILURE() << "the failure was not reported";
        } catch (const zav::libs::core::exception& e) {
            EXPECT_NE(e.get_string_error().find(file), std::string::npos) << e.get_string_error();
        }
        EXPECT_EQ(read(file), "old content");
        EXPECT_EQ(entries(), 1u) << "no temporary file is left behind";
    }

    // Once renamed, the new content is in place, whole; only its durability
    // is in doubt, and that is reported.
    failing_file_system disk(step::sync_directory);
    EXPECT_THROW(write_file_atomically(file, "new content", disk), zav::libs::core::exception);
    EXPECT_EQ(read(file), "new content");
    EXPECT_EQ(entries(), 1u);
}

TEST_F(AtomicFileTest, WritersOfOneNameKeepEachOthersTemporaryFiles)
{
    const auto file = (m_dir / "state.bin").string();
    {
        // Each removes the leftovers it finds when constructed; the other's
        // temporary file is no leftover.
        zav::libs::core::prepared_file first(file, "first");
        zav::libs::core::prepared_file second(file, "second");
        first.commit();
        EXPECT_EQ(read(file), "first");
        second.commit();
        EXPECT_EQ(read(file), "second");
    }
    EXPECT_EQ(entries(), 1u);

    // The same from several threads at once: every write succeeds whole.
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t)
        writers.emplace_back([&file, t] {
            const std::string content(1000, static_cast<char>('a' + t));
            for (int i = 0; i < 50; ++i) write_file_atomically(file, content);
        });
    for (auto& writer : writers) writer.join();
    const auto content = read(file);
    EXPECT_EQ(content.size(), 1000u);
    EXPECT_EQ(content, std::string(1000, content.front()));
    EXPECT_EQ(entries(), 1u);
}

TEST_F(AtomicFileTest, ABackgroundWriteIsDoneWhenWaitedForOrDropped)
{
    const auto file = (m_dir / "state.bin").string();
    {
        zav::libs::core::background_file_write write(file, "in the background");
        write.wait();
        EXPECT_EQ(read(file), "in the background");
        write.wait();
    }
    {
        zav::libs::core::background_file_write dropped(file, "dropped unasked");
    }
    EXPECT_EQ(read(file), "dropped unasked") << "the destructor waits for the write";

    failing_file_system disk(failing_file_system::step::sync);
    zav::libs::core::background_file_write failing(file, "never", disk);
    EXPECT_THROW(failing.wait(), zav::libs::core::exception);
    EXPECT_EQ(read(file), "dropped unasked");
    EXPECT_EQ(entries(), 1u);
}
