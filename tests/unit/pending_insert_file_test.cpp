#include "pending_insert_file.hpp"

#include "core/exception.hpp"

#include "support/positions.hpp"

#include <boost/filesystem.hpp>
#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <sys/wait.h>
#include <unistd.h>

using zav::test::ms;
using zav::test::pos;

namespace {

class PendingInsertFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dir = boost::filesystem::temp_directory_path() / boost::filesystem::unique_path("pending-%%%%-%%%%");
        boost::filesystem::create_directories(m_dir);
        m_path = (m_dir / "database.bin").string();
    }
    void TearDown() override { boost::filesystem::remove_all(m_dir); }

    static zav::positions_vector batch(int _count, int _x)
    {
        zav::positions_vector result;
        for (int i = 0; i < _count; ++i) {
            auto p = pos("T" + std::to_string(i % 7), ms(1714564800000 + i), _x, i);
            p.area_uid = "area 'α'";
            result.push_back(p);
        }
        return result;
    }

    boost::filesystem::path m_dir;
    std::string m_path;
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
    EXPECT_EQ(std::distance(boost::filesystem::directory_iterator(m_dir), {}), 1) << "no temporary file left";
}

TEST_F(PendingInsertFileTest, ACorruptFileIsDeletedAndReported)
{
    for (const std::string& content : {std::string("not an archive"), std::string(),
                                       std::string("22 serialization::archive 19 0 0 5 0 0 0 7")}) {
        std::ofstream(m_path) << content;
        try {
            zav::pending_insert_file::load(m_path);
            ADD_FAILURE() << "loaded '" << content << "'";
        } catch (const zav::libs::core::exception& e) {
            EXPECT_FALSE(e.get_string_error().empty());
        }
        EXPECT_FALSE(boost::filesystem::exists(m_path)) << "'" << content << "' was kept";
    }
}

TEST_F(PendingInsertFileTest, KillDuringAWriteLeavesTheOldOrTheNewCompleteFile)
{
    const auto old_batch = batch(20000, 1);
    const auto new_batch = batch(30000, 2);
    zav::pending_insert_file::save(m_path, old_batch);

    int saw_old = 0;
    int saw_new = 0;
    for (int round = 0; round < 12; ++round) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (;;)
                zav::pending_insert_file::save(m_path, round % 2 == 0 ? new_batch : old_batch);
        }
        // Different moments of the write cycle in different rounds.
        ::usleep(static_cast<useconds_t>(20000 + round * 7919));
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);

        const auto loaded = zav::pending_insert_file::load(m_path);
        if (loaded == old_batch)
            ++saw_old;
        else if (loaded == new_batch)
            ++saw_new;
        else
            FAIL() << "round " << round << ": a batch of " << loaded.size() << " positions, neither old nor new";
    }
    EXPECT_EQ(saw_old + saw_new, 12);
}
