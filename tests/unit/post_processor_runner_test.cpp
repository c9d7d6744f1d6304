// The runner's window loop against an in-memory position store: whatever the
// window length, and however often the runner is restarted or crashes while
// writing, positions ends up holding what one pass of the pipeline over all
// raw positions produces.

#include "post_processor_runner.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <stdexcept>
#include <tuple>
#include <utility>

#include "core/exception.hpp"
#include "core/logger.hpp"
#include "store/corrupt_state_file_error.hpp"
#include "support/positions.hpp"

namespace {

using namespace zav;
using zav::test::ms;
using zav::test::pos;

class signals_stub : public libs::core::events_loop::signals_handle
{
public:
    bool signal_is_received() const override { return m_received.load(); }
    std::atomic<bool> m_received{false};
};

// Keeps both tables in memory and answers like the real store: windows are
// (from, from + duration], without the trailing run of the last row's second.
class memory_database : public database
{
public:
    explicit memory_database(positions_vector _raw) : m_raw(std::move(_raw)) {}

    void recover_if_failed() override
    {
        ++m_recover_calls;
        m_written.insert(m_written.end(), m_pending.begin(), m_pending.end());
        m_pending.clear();
    }
    boost::optional<timestamp> get_last_position_timestamp() const override
    {
        if (m_unreachable) throw std::runtime_error("server has gone away");
        boost::optional<timestamp> last;
        for (const auto& p : m_written)
            if (!last || p.ts > *last) last = p.ts;
        return last;
    }
    boost::optional<timestamp> get_first_raw_position_timestamp() const override
    {
        return get_next_raw_position_timestamp(timestamp(std::chrono::milliseconds(-1)));
    }
    boost::optional<timestamp> get_next_raw_position_timestamp(timestamp _timestamp) const override
    {
        boost::optional<timestamp> next;
        for (const auto& p : m_raw)
            if (p.ts > _timestamp && (!next || p.ts < *next)) next = p.ts;
        return next;
    }
    positions_vector get_raw_positions(timestamp _from, std::chrono::seconds _duration) const override
    {
        if (m_failing_window_reads.count(++m_window_queries))
            throw std::runtime_error("read failed on purpose");
        positions_vector window;
        for (const auto& p : m_raw)
            if (p.ts > _from && p.ts <= _from + _duration) window.push_back(p);
        const auto second = window.empty() ? 0 : window.back().ts.get_ts();
        while (!window.empty() && window.back().ts.get_ts() == second) window.pop_back();
        return window;
    }
    void clear_positions_table() override { m_written.clear(); }
    timestamp get_server_time() const override
    {
        return m_server_time ? *m_server_time : timestamp::current_time();
    }
    late_rows find_late_rows(timestamp, timestamp) override { return {}; }
    positions_vector get_raw_range(timestamp _after, timestamp _until) const override
    {
        positions_vector range;
        for (const auto& p : m_raw)
            if (p.ts > _after && p.ts <= _until) range.push_back(p);
        return range;
    }
    std::vector<ledger_range> get_ledger_ranges(timestamp, timestamp, bool) const override { return {}; }
    replaced_positions replace_positions(timestamp _after, timestamp _until,
                                         const positions_vector& _positions, const std::vector<ledger_range>&,
                                         bool) override
    {
        const auto removed =
            std::erase_if(m_written, [&](const position& _p) { return _p.ts > _after && _p.ts <= _until; });
        m_written.insert(m_written.end(), _positions.begin(), _positions.end());
        return {static_cast<long long>(removed), static_cast<long long>(_positions.size())};
    }
    raw_outliers find_raw_outliers(timestamp _future_after) const override
    {
        raw_outliers outliers;
        for (const auto& p : m_raw)
            if (p.ts > _future_after) {
                ++outliers.future_rows;
                if (!outliers.newest_future || p.ts > *outliers.newest_future) outliers.newest_future = p.ts;
            }
        return outliers;
    }
    bool has_position(const position& _position) const override
    {
        return std::ranges::any_of(m_written, [&](const position& _p) {
            return _p.trackable_uid == _position.trackable_uid && _p.ts == _position.ts;
        });
    }
    std::map<std::string, long long> count_positions_at(timestamp _ts) const override
    {
        std::map<std::string, long long> counts;
        for (const auto& p : m_written)
            if (p.ts == _ts) ++counts[p.trackable_uid];
        return counts;
    }
    void write_positions(const positions_vector& _positions, const read_range&) override
    {
        // A failure before anything was written, or what a crash after the
        // first INSERT statement leaves: half the batch in positions, the rest
        // pending for recovery.
        const bool fail = std::exchange(m_fail_next_write, false);
        const bool crash = std::exchange(m_crash_inside_next_write, false);
        const auto end = fail    ? _positions.begin()
                         : crash ? _positions.begin() + static_cast<long>(_positions.size() / 2)
                                 : _positions.end();
        m_written.insert(m_written.end(), _positions.begin(), end);
        if (crash) m_pending.assign(end, _positions.end());
        if (fail || crash) throw std::runtime_error("write failed on purpose");
    }

    positions_vector m_raw;
    positions_vector m_written;
    int m_recover_calls = 0;
    mutable int m_window_queries = 0;
    // Window reads (counted from 1) that throw.
    std::set<int> m_failing_window_reads;
    positions_vector m_pending;
    bool m_fail_next_write = false;
    bool m_crash_inside_next_write = false;
    bool m_unreachable = false;
    boost::optional<timestamp> m_server_time;
};

// Three tags sampled every 200 to 900 ms over 150 s of 2024, with gaps of 1.5
// to 4.5 s that the pipeline fills and occasional outliers it smooths.
positions_vector generate_raw(unsigned _seed)
{
    std::mt19937 random(_seed);
    const long long start = 1714564800000;  // 2024-05-01 12:00:00 UTC
    positions_vector raw;
    for (int tag = 0; tag < 3; ++tag) {
        long long t = start + tag * 37;
        int x = 1000 * tag;
        while (t < start + 150000) {
            int jitter = std::uniform_int_distribution<>(-20, 20)(random);
            if (std::uniform_int_distribution<>(0, 30)(random) == 0) jitter += 5000;
            raw.push_back(pos("T" + std::to_string(tag), ms(t), x + jitter, 2 * x - jitter));
            x += 3;
            t += std::uniform_int_distribution<>(0, 20)(random) == 0
                     ? std::uniform_int_distribution<>(1500, 4500)(random)
                     : std::uniform_int_distribution<>(200, 900)(random);
        }
    }
    // Row order of a table fed by several sources: roughly, not strictly, by time.
    std::sort(raw.begin(), raw.end(), positions_post_processor::timestamp_less);
    return raw;
}

// One pass of the pipeline over everything, flushed by a far-future sample of
// an object of its own, as batch mode does at the end of its input.
positions_vector process_at_once(positions_vector _raw)
{
    _raw.push_back(pos("flush", ms(_raw.back().ts.get_time_since_epoch().count() + 1000000), 0, 0));
    auto result = positions_post_processor::process_positions({}, std::move(_raw));
    std::erase_if(result.processed_positions, [](const position& p) { return p.trackable_uid == "flush"; });
    return result.processed_positions;
}

using row = std::tuple<std::string, long long, boost::optional<int>, boost::optional<int>>;
row to_row(const position& _p)
{
    return {_p.trackable_uid, _p.ts.get_time_since_epoch().count(), _p.x, _p.y};
}

// Written rows are reference rows, none twice, and every reference row up to
// 4 s before the newest written one is written (later synthetic positions may
// still wait for the sample that creates them).
void expect_matches_reference(const positions_vector& _written, const positions_vector& _reference,
                              const std::string& _what)
{
    ASSERT_FALSE(_written.empty()) << _what;
    std::multiset<row> reference;
    for (const auto& p : _reference) reference.insert(to_row(p));
    std::set<row> written;
    long long newest = 0;
    for (const auto& p : _written) {
        const auto r = to_row(p);
        EXPECT_TRUE(written.insert(r).second)
            << _what << ": written twice: " << std::get<0>(r) << " " << std::get<1>(r);
        EXPECT_TRUE(reference.count(r))
            << _what << ": not a reference row: " << std::get<0>(r) << " " << std::get<1>(r);
        newest = std::max(newest, std::get<1>(r));
    }
    int missing = 0;
    for (const auto& r : reference)
        if (std::get<1>(r) <= newest - 4000 && !written.count(r)) ++missing;
    EXPECT_EQ(missing, 0) << _what << ": reference rows not written";
}

// The read-only window reader over the tables of a memory_database.
class memory_window_reader : public window_reader
{
public:
    explicit memory_window_reader(const memory_database& _tables) : m_tables(_tables) {}
    positions_vector get_raw_positions(timestamp _from, std::chrono::seconds _duration) override
    {
        return m_tables.get_raw_positions(_from, _duration);
    }
    boost::optional<backlog> backlog_after(timestamp) noexcept override { return boost::none; }

private:
    const memory_database& m_tables;
};

class post_processor_runner_test : public ::testing::Test
{
protected:
    void SetUp() override { reset_dir(); }
    void TearDown() override { std::filesystem::remove_all(m_dir); }
    void reset_dir()
    {
        std::filesystem::remove_all(m_dir);
        std::filesystem::create_directories(m_dir);
    }

    post_processor_runner make_runner(database& _db, int _seconds)
    {
        return post_processor_runner(_db, m_logger, m_signals, m_dir.string(),
                                     std::chrono::seconds(_seconds));
    }

    // runner.bin is synced after every piece: keep it in memory when possible.
    const std::filesystem::path m_dir =
        (std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : std::filesystem::temp_directory_path()) /
        ("runner_test_" + std::to_string(::getpid()));
    libs::core::logger m_logger{"trackmend-test", "test"};
    signals_stub m_signals;
};

TEST_F(post_processor_runner_test, catch_up_equals_one_pass_for_any_window_length)
{
    const auto raw = generate_raw(7);
    const auto reference = process_at_once(raw);
    for (int seconds : {1, 60}) {
        reset_dir();
        memory_database db(raw);
        make_runner(db, seconds).run();
        EXPECT_EQ(db.m_recover_calls, 2) << "at construction and at the start of the run";
        expect_matches_reference(db.m_written, reference, "window " + std::to_string(seconds) + " s");
        // Only the hold-back stays unwritten.
        EXPECT_GE(db.get_last_position_timestamp()->get_time_since_epoch().count(),
                  raw.back().ts.get_time_since_epoch().count() - 12000);
    }
}

TEST_F(post_processor_runner_test, restarts_and_failed_writes_change_nothing)
{
    const auto raw = generate_raw(11);
    const auto reference = process_at_once(raw);

    // Each phase sees a longer prefix of the raw table, as a live feed would,
    // and is run by a new runner, as after a restart. In two of three phases
    // the first write crashes first: before anything reached positions (the
    // runner's state is then ahead of positions) or after part of the piece
    // did (recovery then completes it, and the piece must not come again).
    memory_database db({});
    const std::size_t phases = 12;
    for (std::size_t phase = 1; phase <= phases; ++phase) {
        db.m_raw.assign(raw.begin(), raw.begin() + raw.size() * phase / phases);
        if (phase % 3 != 0) {
            (phase % 3 == 1 ? db.m_fail_next_write : db.m_crash_inside_next_write) = true;
            EXPECT_THROW(make_runner(db, 5).run(), std::runtime_error);
        }
        make_runner(db, 5).run();
    }
    expect_matches_reference(db.m_written, reference, "restarted runner");

    // The same runner object after a failed write resumes from positions too.
    reset_dir();
    memory_database same(raw);
    auto runner = make_runner(same, 5);
    same.m_fail_next_write = true;
    EXPECT_THROW(runner.run(), std::runtime_error);
    runner.run();
    expect_matches_reference(same.m_written, reference, "runner after a failed write");
}

TEST_F(post_processor_runner_test, windows_read_ahead_change_nothing_when_reads_or_writes_fail)
{
    const auto raw = generate_raw(13);
    const auto reference = process_at_once(raw);

    // Every window comes from the reader, the next one read while the last
    // piece is written. Writes fail or crash as in the restart test above,
    // with a read ahead running meanwhile; reads ahead fail too, alone (the
    // window is read again) or with the read again (the run fails).
    memory_database db({});
    memory_database reader_tables({});
    memory_window_reader reader(reader_tables);
    reader_tables.m_failing_window_reads = {2, 5, 6, 9, 14};
    int failed_runs = 0;
    const std::size_t phases = 6;
    for (std::size_t phase = 1; phase <= phases; ++phase) {
        db.m_raw.assign(raw.begin(), raw.begin() + raw.size() * phase / phases);
        reader_tables.m_raw = db.m_raw;
        if (phase % 3 == 1) db.m_fail_next_write = true;
        if (phase % 3 == 2) db.m_crash_inside_next_write = true;
        for (int attempt = 0; attempt < 4; ++attempt) {
            auto runner = make_runner(db, 5);
            runner.set_window_reader(&reader);
            try {
                runner.run();
                break;
            } catch (const std::runtime_error&) {
                ++failed_runs;
            }
        }
    }
    expect_matches_reference(db.m_written, reference, "windows read ahead");
    EXPECT_EQ(db.m_window_queries, 0) << "the writing store reads no window";
    EXPECT_GT(reader_tables.m_window_queries, 30);
    EXPECT_GE(failed_runs, 5) << "4 failed writes, 1 failed read again";

    // The saves written ahead with the windows left runner.bin with the
    // context of the newest written time, and no temporary file beside it,
    // whether their window was written, failed or never taken.
    const auto contexts = context_file::load((m_dir / "runner.bin").string());
    ASSERT_TRUE(contexts);
    EXPECT_EQ(contexts->count(*db.get_last_position_timestamp()), 1u);
    EXPECT_EQ(
        std::distance(std::filesystem::directory_iterator(m_dir), std::filesystem::directory_iterator()), 1);
}

TEST_F(post_processor_runner_test, empty_tables_gaps_and_bad_state_files)
{
    // Nothing to read: no recovery but the one at construction, no window.
    memory_database empty({});
    make_runner(empty, 10).run();
    EXPECT_EQ(empty.m_recover_calls, 1);
    EXPECT_EQ(empty.m_window_queries, 0);
    EXPECT_TRUE(std::filesystem::exists(m_dir / "runner.bin")) << "runner.bin is created at construction";

    // A gap of three hours is crossed with a few doubling windows and one
    // jump, not with a thousand windows of the configured length. (The
    // windows before the gap hold the three rows, which the hold-back keeps
    // back, so they grow; a window without any row jumps at once.)
    const long long t0 = 1714564800000;
    positions_vector raw;
    for (long long t : {t0, t0 + 500, t0 + 1000}) raw.push_back(pos("A", ms(t), 1, 1));
    for (long long t = t0 + 3 * 3600000; t < t0 + 3 * 3600000 + 30000; t += 500)
        raw.push_back(pos("A", ms(t), 1, 1));
    memory_database gap(raw);
    make_runner(gap, 10).run();
    EXPECT_GT(gap.get_last_position_timestamp().value_or(timestamp(ms(0))).get_time_since_epoch().count(),
              t0 + 3 * 3600000);
    // The gap is crossed twice (the start moves only to the newest processed
    // position, which is still before the gap after the first crossing), each
    // time with 8 windows (10 s doubled up to 1000 s) and one jump.
    EXPECT_LT(gap.m_window_queries, 30);

    // A corrupt runner.bin ends the construction, before any recovery or
    // save, and stays as it was; moved aside, processing goes on.
    reset_dir();
    std::ofstream(m_dir / "runner.bin") << "22 serialization::archive 17 garbage";
    memory_database fresh(generate_raw(3));
    EXPECT_THROW(make_runner(fresh, 60), corrupt_state_file_error);
    EXPECT_EQ(fresh.m_recover_calls, 0);
    std::ifstream kept(m_dir / "runner.bin");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "22 serialization::archive 17 garbage");
    std::filesystem::rename(m_dir / "runner.bin", m_dir / "runner.bin.bad");
    make_runner(fresh, 60).run();
    EXPECT_FALSE(fresh.m_written.empty());

    EXPECT_THROW(make_runner(fresh, 0), libs::core::exception) << "a window below 1 s is rejected";

    // A stop request while the store is unreachable ends the construction.
    fresh.m_unreachable = true;
    m_signals.m_received = true;
    try {
        make_runner(fresh, 60);
        ADD_FAILURE() << "no exception while the store is unreachable and a signal has arrived";
    } catch (const libs::core::exception& e) {
        EXPECT_EQ(e.get_string_error(), "Interrupted");
    }
}

}  // namespace
