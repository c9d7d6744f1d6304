#include "store/pending_insert_file.hpp"

#include "store/corrupt_state_file_error.hpp"

#include "support/failing_file_system.hpp"
#include "support/files.hpp"
#include "support/positions.hpp"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <utility>

using zav::pending_insert_file::pending_write;
using zav::test::ms;
using zav::test::pos;
namespace fs = std::filesystem;

namespace {

std::string hex(const std::string& _bytes)
{
    static const char* digits = "0123456789abcdef";
    std::string text;
    for (unsigned char c : _bytes) {
        text += digits[c >> 4];
        text += digits[c & 15];
    }
    return text;
}

class PendingInsertFileTest : public ::testing::Test
{
protected:
    trackmend_test::temporary_directory m_dir{"pending"};
    std::string m_path = (m_dir / "database.bin").string();
};

}  // namespace

TEST_F(PendingInsertFileTest, RoundTripsAWriteAndReadsAMissingFileAsNone)
{
    EXPECT_FALSE(zav::pending_insert_file::load(m_path));

    zav::position full = pos("", ms(-5));
    full.trackable_id = -9'000'000'000LL;
    full.mac_address = "aa:bb";
    full.z = 3;
    full.project_uid = std::string("p\n\"\\\0x", 6);
    full.inactive = -1;
    const pending_write write{{full, pos("T1", ms(1500), 10, 20)}, 123456789012LL};
    zav::pending_insert_file::save(m_path, write.positions, *write.rows_before);
    const auto loaded = zav::pending_insert_file::load(m_path);
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->positions, write.positions);
    EXPECT_EQ(loaded->rows_before.value_or(-1), 123456789012LL);

    zav::pending_insert_file::save(m_path, {}, 0);
    EXPECT_TRUE(zav::pending_insert_file::load(m_path)->positions.empty())
        << "a second save replaces the first";
    EXPECT_EQ(std::distance(fs::directory_iterator(m_dir.path()), {}), 1) << "no temporary file left";
    EXPECT_EQ(zav::pending_insert_file::earliest_time(write.positions), zav::timestamp(ms(-5)));
}

namespace {

// The body of the pinned positions with 5 rows before: rows before, count,
// positions.
const std::string pinned_body =
    "0500000000000000"
    "0200000000000000"  // rows, count
    "0700000000000000"
    "02000000"
    "5431"
    "00"
    "079e06348f010000"  // id, uid, no mac, ts
    "010a000000"
    "01fbffffff"
    "00"
    "010100000041"
    "00"
    "010000"  // x, y, z, area, project, inactive
    "0800000000000000"
    "03000000"
    "542032"
    "010500000061613a6262"
    "dca306348f010000"
    "00"
    "00"
    "0103000000"
    "00"
    "010100000070"
    "00";

std::string unhex(const std::string& _text)
{
    std::string bytes;
    for (std::size_t i = 0; i + 1 < _text.size(); i += 2)
        bytes += static_cast<char>(std::stoi(_text.substr(i, 2), nullptr, 16));
    return bytes;
}

}  // namespace

TEST_F(PendingInsertFileTest, AllThreeFileFormatsArePinned)
{
    // Written: magic, version 2, body length, body, CRC-32C of all before it.
    zav::pending_insert_file::save(m_path, zav::test::pinned_positions(), 5);
    EXPECT_EQ(hex(trackmend_test::read_file(m_path)),
              "544d5057"
              "02000000"
              "6c00000000000000" +
                  pinned_body + "618ceab9");

    // Version 1, without length and checksum, as the version before wrote it.
    trackmend_test::write_file(m_path, unhex("544d5057"
                                             "01000000" +
                                             pinned_body));
    const auto v1 = zav::pending_insert_file::load(m_path);
    ASSERT_TRUE(v1);
    EXPECT_EQ(v1->positions, zav::test::pinned_positions());
    EXPECT_EQ(v1->rows_before.value_or(-1), 5);

    // What earlier versions wrote: a Boost text archive of the batch alone.
    trackmend_test::write_file(
        m_path,
        "22 serialization::archive 18 0 0 2 0 0 0 7 2 T1 0 1 0 0 0 1714564800007 0 1 1 10 1 "
        "-5 0 1 1 A 0 0 1 1 0 8 3 T 2 1 5 aa:bb 1714564801500 0 0 1 3 0 1 1 p 0\n");
    const auto legacy = zav::pending_insert_file::load(m_path);
    ASSERT_TRUE(legacy);
    EXPECT_EQ(legacy->positions, zav::test::pinned_positions());
    EXPECT_FALSE(legacy->rows_before) << "the text format has no row count";
}

TEST_F(PendingInsertFileTest, AFileThatFailsItsCheckIsKeptAsItIsAndStopsTheDaemon)
{
    zav::pending_insert_file::save(m_path, zav::test::pinned_positions(), 5);
    const std::string good = trackmend_test::read_file(m_path);
    // The first row's trackable_id 7 made 9: the record still parses, only
    // the checksum tells.
    std::string other_id = good;
    other_id[32] = 9;
    std::string unknown_version = good;
    unknown_version[4] = 3;
    for (const auto& [content, fault] :
         {std::pair{other_id, std::string("fails its checksum")},
          {std::string("22 serialization::archive 19 0 0 5 0 0 0 7"), "is neither"},
          {good.substr(0, good.size() - 3), "is cut short"},
          {unknown_version, "has version 3"}}) {
        trackmend_test::write_file(m_path, content);
        try {
            zav::pending_insert_file::load(m_path);
            ADD_FAILURE() << hex(content) << " was read";
        } catch (const zav::corrupt_state_file_error& e) {
            EXPECT_NE(e.get_string_error().find(m_path + " " + fault), std::string::npos) << e.what();
            EXPECT_NE(e.get_string_error().find("interrupted write"), std::string::npos) << e.what();
        }
        EXPECT_EQ(trackmend_test::read_file(m_path), content) << hex(content) << " was not kept as it was";
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
    zav::pending_insert_file::save(m_path, batches[0], 0);

    for (int round = 0; round < 12; ++round) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0)
            for (;;) zav::pending_insert_file::save(m_path, batches[(round + 1) % 2], 0);
        // Different moments of the write cycle in different rounds.
        ::usleep(static_cast<useconds_t>(20000 + round * 7919));
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);

        const auto loaded = zav::pending_insert_file::load(m_path);
        ASSERT_TRUE(loaded);
        EXPECT_TRUE(loaded->positions == batches[0] || loaded->positions == batches[1])
            << "round " << round << ": a batch of " << loaded->positions.size()
            << " positions, neither old nor new";
    }
}

TEST_F(PendingInsertFileTest, AFailedStepOfASaveKeepsThePreviousWriteWhole)
{
    // database.bin may be the only copy of rows that positions lacks: a save
    // that fails at any step must report it and leave the previous write as
    // it was, with nothing beside it.
    const zav::positions_vector previous{pos("T1", ms(1000), 1, 2), pos("T2", ms(2000), 3, 4)};
    const zav::positions_vector next{pos("T3", ms(3000), 5, 6)};
    using step = trackmend_test::failing_file_system::step;
    for (const step failing : {step::create, step::write, step::sync, step::close, step::rename}) {
        SCOPED_TRACE(trackmend_test::failing_file_system::name(failing));
        zav::pending_insert_file::save(m_path, previous, 7);
        trackmend_test::failing_file_system disk(failing);
        EXPECT_ANY_THROW(zav::pending_insert_file::save(m_path, next, 8, disk));
        const auto loaded = zav::pending_insert_file::load(m_path);
        ASSERT_TRUE(loaded);
        EXPECT_EQ(loaded->positions, previous);
        EXPECT_EQ(loaded->rows_before.value_or(-1), 7);
        EXPECT_EQ(std::distance(fs::directory_iterator(m_dir.path()), {}), 1) << "no temporary file left";
    }
}
