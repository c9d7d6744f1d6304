#include "store/pending_insert_file.hpp"

#include "core/exception.hpp"

#include "support/positions.hpp"

#include <gtest/gtest.h>
#include <boost/filesystem.hpp>

#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
#include <fstream>

using zav::test::ms;
using zav::test::pos;
namespace fs = boost::filesystem;

namespace {

class PendingInsertFileTest : public ::testing::Test
{
protected:
    void SetUp() override { fs::create_directories(m_dir); }
    void TearDown() override { fs::remove_all(m_dir); }

    fs::path m_dir = fs::temp_directory_path() / fs::unique_path("pending-%%%%-%%%%");
    std::string m_path = (m_dir / "database.bin").string();
};

}  // namespace

TEST_F(PendingInsertFileTest, RoundTripsABatchAndReadsAMissingFileAsEmpty)
{
    EXPECT_TRUE(zav::pending_insert_file::load(m_path).empty());

    zav::position full = pos("", ms(-5));
    full.trackable_id = -9'000'000'000LL;
    full.mac_address = "aa:bb";
    full.z = 3;
    full.project_uid = "p\n\"\\";
    full.inactive = -1;
    zav::positions_vector positions = {full, pos("T1", ms(1500), 10, 20)};
    zav::pending_insert_file::save(m_path, positions);
    EXPECT_EQ(zav::pending_insert_file::load(m_path), positions);

    zav::pending_insert_file::save(m_path, {});
    EXPECT_TRUE(zav::pending_insert_file::load(m_path).empty()) << "a second save replaces the first";
    EXPECT_EQ(std::distance(fs::directory_iterator(m_dir), {}), 1) << "no temporary file left";

    // A corrupt file is deleted and reported.
    for (const std::string content : {"not an archive", "", "22 serialization::archive 19 0 0 5 0 0 0 7"}) {
        std::ofstream(m_path) << content;
        EXPECT_THROW(zav::pending_insert_file::load(m_path), zav::libs::core::exception)
            << "'" << content << "'";
        EXPECT_FALSE(fs::exists(m_path)) << "'" << content << "' was kept";
    }
}

TEST_F(PendingInsertFileTest, KillDuringAWriteLeavesTheOldOrTheNewCompleteFile)
{
    zav::positions_vector batches[2];
    for (int i = 0; i < 30000; ++i) {
        auto p = pos("T" + std::to_string(i % 7), ms(1714564800000 + i), 1, i);
        p.area_uid = "area 'α'";
        if (i < 20000) batches[0].push_back(p);
        p.x = 2;
        batches[1].push_back(p);
    }
    zav::pending_insert_file::save(m_path, batches[0]);

    for (int round = 0; round < 12; ++round) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0)
            for (;;) zav::pending_insert_file::save(m_path, batches[(round + 1) % 2]);
        // Different moments of the write cycle in different rounds.
        ::usleep(static_cast<useconds_t>(20000 + round * 7919));
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);

        const auto loaded = zav::pending_insert_file::load(m_path);
        EXPECT_TRUE(loaded == batches[0] || loaded == batches[1])
            << "round " << round << ": a batch of " << loaded.size() << " positions, neither old nor new";
    }
}
