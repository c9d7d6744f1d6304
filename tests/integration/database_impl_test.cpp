#include "database_impl.hpp"
#include "store/inconsistent_state_error.hpp"
#include "store/pending_insert_file.hpp"
#include "store/row_time.hpp"

#include "core/core.hpp"
#include "core/exception.hpp"
#include "core/logger.hpp"

#include "mariadb++/exceptions.hpp"

#include "support/log_capture.hpp"
#include "support/positions.hpp"
#include "support/server_test.hpp"

#include <gtest/gtest.h>
#include <boost/archive/text_oarchive.hpp>
#include <boost/filesystem.hpp>
#include <boost/optional/optional_io.hpp>
#include <boost/serialization/vector.hpp>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <thread>

namespace zav::libs::core {
// Readable expectations on optional timestamps.
inline std::ostream& operator<<(std::ostream& _os, const timestamp& _ts)
{
    return _os << _ts.to_iso_8601_string(true);
}
}  // namespace zav::libs::core

using zav::test::ms;
using zav::test::pos;

namespace {

// 2024-05-01 12:00:00.000 UTC
constexpr long long noon = 1714564800000;

class DatabaseImplTest : public trackmend_test::server_test
{
protected:
    DatabaseImplTest() : server_test("TRUNCATE TABLE positions; TRUNCATE TABLE positions_raw") {}

    void SetUp() override
    {
        server_test::SetUp();
        if (IsSkipped()) return;
        m_dir = boost::filesystem::temp_directory_path() / boost::filesystem::unique_path("store-%%%%-%%%%");
        boost::filesystem::create_directories(m_dir);
        m_core = zav::libs::core::core::create(m_logger);
        m_loop = m_core->create_events_loop("main");
        m_signals = m_loop->stop_on_signals();
    }

    void TearDown() override
    {
        if (!m_dir.empty()) boost::filesystem::remove_all(m_dir);
        server_test::TearDown();
    }

    std::unique_ptr<zav::database_impl> make_store(int _piece_size = 1000, unsigned int _port = 0)
    {
        return std::make_unique<zav::database_impl>(
            zav::node_addresses{{m_server.host, _port != 0 ? _port : m_server.port}}, m_server.user,
            m_server.password, m_server.schema, *m_signals, m_logger, _piece_size, m_dir.string());
    }

    std::string pending_file() const { return (m_dir / "database.bin").string(); }

    void insert_raw(const std::string& _uid, const std::string& _ts, const std::string& _type = "P",
                    int _x = 1)
    {
        m_sql->execute(
            "INSERT INTO positions_raw (trackable_id, trackable_uid, ts, x, y, type) VALUES (1, '" + _uid +
            "', '" + _ts + "', " + std::to_string(_x) + ", 2, '" + _type + "')");
    }

    // Statements of a kind run by the server since it started, all sessions.
    long long server_count(const std::string& _status)
    {
        auto rows = m_sql->query("SHOW GLOBAL STATUS LIKE '" + _status + "'");
        EXPECT_TRUE(rows->next());
        return std::stoll(rows->get_string("Value"));
    }

    // positions as the ten written columns, ordered by time and uid.
    zav::positions_vector stored_positions()
    {
        auto rows = m_sql->query(
            "SELECT CAST(trackable_id AS CHAR) AS trackable_id, trackable_uid, mac_address, ts, "
            "microsecond(ts) AS us, x, y, z, area_uid, project_uid, CAST(inactive AS CHAR) AS "
            "inactive FROM positions ORDER BY ts, trackable_uid");
        zav::positions_vector result;
        while (rows->next()) {
            auto text = [&](const char* _name) {
                return rows->get_is_null(_name) ? boost::none
                                                : boost::optional<std::string>(rows->get_string(_name));
            };
            auto number = [&](const char* _name) {
                return rows->get_is_null(_name) ? boost::none
                                                : boost::optional<int>(rows->get_signed32(_name));
            };
            zav::position p = pos(*text("trackable_uid"), ms(0), number("x"), number("y"));
            p.trackable_id = std::stoll(*text("trackable_id"));
            p.mac_address = text("mac_address");
            p.ts = zav::to_timestamp(rows->get_date_time("ts"), rows->get_signed32("us"));
            p.z = number("z");
            p.area_uid = text("area_uid");
            p.project_uid = text("project_uid");
            if (const auto inactive = text("inactive")) p.inactive = static_cast<short>(std::stoi(*inactive));
            result.push_back(p);
        }
        return result;
    }

    static zav::positions_vector five_positions()
    {
        zav::positions_vector result;
        for (int i = 0; i < 5; ++i) result.push_back(pos("T1", ms(noon + i * 1000), i, -i));
        return result;
    }

    boost::filesystem::path m_dir;
    zav::libs::core::logger m_logger{"trackmend_test", "main"};
    zav::libs::core::core::ptr m_core;
    zav::libs::core::events_loop::ptr m_loop;
    zav::libs::core::events_loop::signals_handle::ptr m_signals;
};

// The error text of the store's exception; _function receives where it arose.
template <typename F>
std::string store_error_of(F&& _f, std::string* _function = nullptr)
{
    try {
        _f();
    } catch (const zav::libs::core::exception& e) {
        if (_function) *_function = e.get_source_location().function();
        return e.get_string_error();
    }
    return "<no exception>";
}

}  // namespace

TEST_F(DatabaseImplTest, SingleTimestampQueries)
{
    auto store = make_store();
    EXPECT_FALSE(store->get_last_position_timestamp()) << "empty positions";
    EXPECT_FALSE(store->get_first_raw_position_timestamp()) << "empty positions_raw";
    EXPECT_FALSE(store->get_next_raw_position_timestamp(zav::timestamp(ms(noon))));

    insert_raw("T1", "2024-05-01 11:59:59.500000", "HB");
    insert_raw("T1", "2024-05-01 12:00:00.000000");
    insert_raw("T1", "2024-05-01 12:00:01.000000", "HB");
    insert_raw("T1", "2024-05-01 12:00:02.007999");
    EXPECT_EQ(store->get_first_raw_position_timestamp(), zav::timestamp(ms(noon - 500)))
        << "heartbeats count here";
    EXPECT_EQ(store->get_next_raw_position_timestamp(zav::timestamp(ms(noon))),
              zav::timestamp(ms(noon + 2007)))
        << "strictly later, heartbeats skipped, microseconds truncated";
    EXPECT_FALSE(store->get_next_raw_position_timestamp(zav::timestamp(ms(noon + 2007))))
        << "12:00:02.007999 is the instant 12:00:02.007, not later than itself";

    store->write_positions({pos("T1", ms(noon + 7), 1, 1), pos("T2", ms(noon - 1000), 1, 1)}, {});
    EXPECT_EQ(store->get_last_position_timestamp(), zav::timestamp(ms(noon + 7)));
}

TEST_F(DatabaseImplTest, RawWindowBoundsHeartbeatsAndTrailingSecond)
{
    insert_raw("T1", "2024-05-01 12:00:00.000000", "P", 0);  // the window's start: excluded
    // At the start too, as the store's instants are whole milliseconds: the
    // window that ended at 12:00:00.000 held it.
    insert_raw("T1", "2024-05-01 12:00:00.000900", "P", 6);
    insert_raw("T1", "2024-05-01 12:00:01.500000", "P", 1);
    insert_raw("T2", "2024-05-01 12:00:05.250000", "HB", 2);
    insert_raw("T1", "2024-05-01 12:00:09.999000", "P", 3);
    insert_raw("T1", "2024-05-01 12:00:10.000000", "P", 4);  // the window's end: included, then trimmed
    insert_raw("T1", "2024-05-01 12:00:10.001000", "P", 5);  // after the end
    auto store = make_store();

    const auto window = store->get_raw_positions(zav::timestamp(ms(noon)), std::chrono::seconds(10));
    // Were the end excluded, 09.999 would be the trailing second and go too.
    zav::positions_vector expected = {pos("T1", ms(noon + 1500), 1, 2), pos("T1", ms(noon + 9999), 3, 2)};
    expected[0].trackable_id = expected[1].trackable_id = 1;
    EXPECT_EQ(window, expected);

    EXPECT_TRUE(store->get_raw_positions(zav::timestamp(ms(noon + 10000)), std::chrono::seconds(5)).empty())
        << "one row, alone in its second";
    EXPECT_TRUE(store->get_raw_positions(zav::timestamp(ms(noon + 60000)), std::chrono::seconds(5)).empty());
}

TEST_F(DatabaseImplTest, WindowRowsComeInTimeOrderWhateverTheInsertionOrder)
{
    // A tag's late upload inserted after another tag's newer rows: on a full
    // scan the server returns insertion order, and the trim of the trailing
    // second would cut B's last second (12:00:03), which lies before the
    // next window's start, for good.
    for (const char* ts : {"01", "02", "03", "04"})
        insert_raw("A", std::string("2024-05-01 12:00:") + ts + ".100000");
    for (const char* ts : {"01", "02", "03"})
        insert_raw("B", std::string("2024-05-01 12:00:") + ts + ".500000");
    m_sql->execute("ANALYZE TABLE positions_raw");
    auto store = make_store();
    // Long windows make a full scan likely; the result must not depend on it.
    for (int seconds : {10, 100000}) {
        const auto window = store->get_raw_positions(zav::timestamp(ms(noon)), std::chrono::seconds(seconds));
        ASSERT_EQ(window.size(), 6u) << "everything but A's 12:00:04";
        EXPECT_TRUE(
            std::is_sorted(window.begin(), window.end(),
                           [](const zav::position& _a, const zav::position& _b) { return _a.ts < _b.ts; }));
        EXPECT_EQ(window.back().trackable_uid, "B");
    }
}

TEST_F(DatabaseImplTest, WindowSelectReadsTheTsIndexAtEveryLengthOrWarnsWithoutIt)
{
    std::string values;
    for (int i = 0; i < 500; ++i)
        values += (i ? ",(1, 'T1', '2024-05-01 12:" : "(1, 'T1', '2024-05-01 12:") +
                  std::to_string(10 + i / 60) + ":" + std::to_string(10 + i % 50) + ".000000', 1, 2, 'P')";
    m_sql->execute("INSERT INTO positions_raw (trackable_id, trackable_uid, ts, x, y, type) VALUES " +
                   values);
    m_sql->execute("ANALYZE TABLE positions_raw");
    // A window over the whole table is where the planner prefers a full scan.
    for (int seconds : {10, 600, 100000}) {
        const auto from = zav::timestamp(ms(noon));
        auto plan = m_sql->query("EXPLAIN " + zav::window_reader_impl::raw_window_query(
                                                  from, from + std::chrono::seconds(seconds), true));
        ASSERT_TRUE(plan->next());
        EXPECT_EQ(plan->get_string("key"), "positions_raw_ts") << seconds << " s";
    }

    // A table created without the index's name is still read.
    m_sql->execute("ALTER TABLE positions_raw DROP INDEX positions_raw_ts, ADD INDEX other_name (ts)");
    struct restore_index
    {
        mariadb::connection_ref sql;
        ~restore_index()
        {
            sql->execute("ALTER TABLE positions_raw DROP INDEX other_name, ADD INDEX positions_raw_ts (ts)");
        }
    } restore{m_sql};
    m_logger.set_debug(false);
    auto store = make_store();
    trackmend_test::stderr_capture captured;
    EXPECT_EQ(store->get_raw_positions(zav::timestamp(ms(noon)), std::chrono::hours(1)).size(), 499u);
    EXPECT_EQ(store->get_raw_positions(zav::timestamp(ms(noon)), std::chrono::hours(2)).size(), 499u);
    const std::string log = captured.text();
    const auto warning = log.find("positions_raw has no index positions_raw_ts");
    EXPECT_NE(warning, std::string::npos) << log;
    EXPECT_EQ(log.find("positions_raw has no index", warning + 1), std::string::npos) << "once: " << log;
}

TEST_F(DatabaseImplTest, ConsecutiveWindowsReadTheirOverlapFromTheServerOnce)
{
    // Two tags every 100 ms for 40 s.
    std::string values;
    for (int i = 1; i <= 400; ++i)
        for (const char* tag : {"A", "B"}) {
            const long long t = noon + i * 100;
            values += std::string(values.empty() ? "" : ",") + "(1, '" + tag + "', '" +
                      zav::timestamp(ms(t)).to_iso_8601_string(true) + "', " + std::to_string(i) +
                      ", 2, 'P')";
        }
    m_sql->execute("INSERT INTO positions_raw (trackable_id, trackable_uid, ts, x, y, type) VALUES " +
                   values);
    auto store = make_store();
    const auto window = [&](zav::database& _store, long long _from, int _seconds) {
        return _store.get_raw_positions(zav::timestamp(ms(_from)), std::chrono::seconds(_seconds));
    };
    const auto fresh_window = [&](long long _from, int _seconds) {
        return window(*make_store(), _from, _seconds);
    };

    EXPECT_EQ(window(*store, noon, 20), fresh_window(noon, 20));
    // The next window starts where the written positions end, inside the
    // last one: only (20 s, 28.5 s] comes from the server.
    const long long rows_read_before = server_count("Rows_read");
    const auto second = window(*store, noon + 8500, 20);
    EXPECT_LE(server_count("Rows_read") - rows_read_before, 2 * 85 + 20) << "of 400 rows in the window";
    EXPECT_EQ(second, fresh_window(noon + 8500, 20));
    EXPECT_EQ(second.size(), 2u * 194) << "(8.5 s, 28.5 s], the trailing second 28 trimmed";
    // Windows that start before the kept rows, end before them (a shorter
    // retry) or start after them are read whole and come out the same.
    EXPECT_EQ(window(*store, noon + 1000, 30), fresh_window(noon + 1000, 30));
    EXPECT_EQ(window(*store, noon + 25000, 2), fresh_window(noon + 25000, 2));
    EXPECT_EQ(window(*store, noon + 26000, 60), fresh_window(noon + 26000, 60));
}

TEST_F(DatabaseImplTest, ServerTimeOutliersAndInvalidDates)
{
    auto store = make_store();
    const auto before = zav::timestamp::current_time();
    const auto server = store->get_server_time();
    EXPECT_LT(std::abs((server - before).count()), 5000) << "the private server runs on this host";

    // A zero date is never a window bound: the first raw time skips it.
    m_sql->execute("SET SESSION sql_mode = ''");
    insert_raw("Z", "0000-00-00 00:00:00");
    insert_raw("T1", "2024-05-01 12:00:00.250000");
    insert_raw("F", "2037-01-01 00:00:00");
    insert_raw("F", "2100-01-01 00:00:00.125000");
    insert_raw("F", "2100-01-02 00:00:00", "HB");
    EXPECT_EQ(store->get_first_raw_position_timestamp(), zav::timestamp(ms(noon + 250)));
    const auto outliers = store->find_raw_outliers(server);
    EXPECT_EQ(outliers.future_rows, 2) << "heartbeats aside";
    EXPECT_EQ(outliers.newest_future, zav::timestamp(ms(4102444800125)));
    EXPECT_EQ(outliers.invalid_time_rows, 1);
}

TEST_F(DatabaseImplTest, RawRowWithNullRequiredValueIsSkippedWithAWarning)
{
    m_sql->execute(
        "ALTER TABLE positions_raw MODIFY trackable_uid VARCHAR(128) NULL, MODIFY ts DATETIME(6) NULL");
    struct restore_schema
    {
        mariadb::connection_ref sql;
        ~restore_schema()
        {
            sql->execute(
                "TRUNCATE TABLE positions_raw; ALTER TABLE positions_raw MODIFY trackable_uid "
                "VARCHAR(128) NOT NULL, MODIFY ts DATETIME(6) NOT NULL");
        }
    } restore{m_sql};
    insert_raw("T1", "2024-05-01 12:00:01.000000", "P", 1);
    m_sql->execute(
        "INSERT INTO positions_raw (trackable_id, trackable_uid, ts, type) VALUES "
        "(1, NULL, '2024-05-01 12:00:02.000000', 'P')");
    insert_raw("T1", "2024-05-01 12:00:03.000000", "P", 3);
    insert_raw("T1", "2024-05-01 12:00:04.000000", "P", 4);
    m_logger.set_debug(false);
    auto store = make_store();

    trackmend_test::stderr_capture captured;
    const auto window = store->get_raw_positions(zav::timestamp(ms(noon)), std::chrono::seconds(10));
    ASSERT_EQ(window.size(), 2u) << "rows 1 and 3 kept, row 4 trimmed";
    EXPECT_EQ(window[1].x, 3);
    const std::string log = captured.text();
    EXPECT_NE(
        log.find("Skipping raw position of trackable NULL at 2024-05-01 12:00:02.000: trackable_uid is NULL"),
        std::string::npos)
        << log;
}

TEST_F(DatabaseImplTest, WindowValuesArriveWholeAndNullsStayNull)
{
    // Texts far beyond the first buffer of their column, a shorter one between
    // them (after the buffer grew) and the longest last.
    m_sql->execute("ALTER TABLE positions_raw MODIFY area_uid TEXT NULL");
    struct restore_schema
    {
        mariadb::connection_ref sql;
        ~restore_schema()
        {
            sql->execute(
                "TRUNCATE TABLE positions_raw; ALTER TABLE positions_raw MODIFY area_uid VARCHAR(128) NULL");
        }
    } restore{m_sql};
    const std::string long_area(10000, 'a'), longer_area = std::string(20000, 'b') + "end";
    m_sql->execute(
        "INSERT INTO positions_raw (trackable_id, trackable_uid, mac_address, ts, x, y, z, area_uid, "
        "project_uid, "
        "inactive, type) VALUES "
        "(-2147483648, 'T1', 'm', '2024-05-01 12:00:01.007999', 2147483647, -1, 0, '" +
        long_area +
        "', 'p', -128, 'P'),"
        "(7, 'T1', NULL, '2024-05-01 12:00:02.000001', NULL, NULL, NULL, 'short', NULL, NULL, 'P'),"
        "(7, 'T1', NULL, '2024-05-01 12:00:03.999999', 5, 6, 7, '" +
        longer_area +
        "', '', 127, 'P'),"
        "(7, 'T1', NULL, '2024-05-01 12:00:04.000000', 5, 6, 7, NULL, NULL, 1, 'P')");
    auto store = make_store();

    const auto window = store->get_raw_positions(zav::timestamp(ms(noon)), std::chrono::seconds(10));
    ASSERT_EQ(window.size(), 3u) << "the last row trimmed";
    zav::position first = pos("T1", ms(noon + 1007), 2147483647, -1);
    first.trackable_id = -2147483648;
    first.mac_address = "m";
    first.z = 0;
    first.area_uid = long_area;
    first.project_uid = "p";
    first.inactive = -128;
    EXPECT_EQ(window[0], first) << "microseconds truncate to the millisecond";
    zav::position nulls = pos("T1", ms(noon + 2000), boost::none, boost::none);
    nulls.trackable_id = 7;
    nulls.area_uid = "short";
    EXPECT_EQ(window[1], nulls);
    EXPECT_EQ(window[2].area_uid, longer_area) << "cut nowhere";
    EXPECT_EQ(window[2].project_uid, std::string()) << "empty, not NULL";
    EXPECT_EQ(window[2].inactive, short{127});
    EXPECT_EQ(window[2].ts, zav::timestamp(ms(noon + 3999)));
}

TEST_F(DatabaseImplTest, WindowReadGoesOnAfterTheSessionWasKilled)
{
    // The prepared window SELECT dies with its session: the store must
    // prepare it again on the new one.
    for (int i = 1; i <= 4; ++i)
        insert_raw("T1", "2024-05-01 12:00:0" + std::to_string(i) + ".000000", "P", i);
    auto store = make_store();
    const auto before = store->get_raw_positions(zav::timestamp(ms(noon)), std::chrono::seconds(10));
    ASSERT_EQ(before.size(), 3u);
    auto sessions = m_sql->query(
        "SELECT CAST(id AS CHAR) AS id FROM information_schema.processlist WHERE id != CONNECTION_ID() AND "
        "user = '" +
        m_server.user + "' AND db = '" + m_server.schema + "'");
    int killed = 0;
    while (sessions->next()) {
        try {
            m_sql->execute("KILL " + sessions->get_string("id"));
            ++killed;
        } catch (const mariadb::exception::base&) {
            // Gone meanwhile.
        }
    }
    ASSERT_GE(killed, 1);
    // Another window start, so that nothing comes from the kept tail.
    EXPECT_EQ(store->get_raw_positions(zav::timestamp(ms(noon - 1000)), std::chrono::seconds(11)).size(), 3u);
}

TEST_F(DatabaseImplTest, WritesInPiecesAndStoresEveryValueUnchanged)
{
    auto store = make_store(2);
    zav::positions_vector positions;
    const std::vector<std::string> texts = {
        "it's", "say \"hi\"", "back\\slash", "100%_", "x'; DROP TABLE positions; --", "ü€😀"};
    for (std::size_t i = 0; i < texts.size(); ++i) {
        auto p = pos(texts[i], ms(noon + static_cast<long long>(i) * 1000 + 7), static_cast<int>(i), -1);
        p.trackable_id = 5'000'000'000LL + static_cast<long long>(i);
        p.mac_address = texts[(i + 1) % texts.size()];
        p.area_uid = texts[(i + 2) % texts.size()];
        p.project_uid = texts[(i + 3) % texts.size()];
        p.z = -7;
        p.inactive = static_cast<short>(i);
        positions.push_back(p);
    }
    positions.push_back(pos("bare", ms(noon + 9000)));
    const long long commits_before = server_count("Com_commit");
    store->write_positions(positions, {});
    EXPECT_EQ(server_count("Com_commit") - commits_before, 5)
        << "seven positions at piece size 2, after taking the writer lease";
    EXPECT_FALSE(boost::filesystem::exists(pending_file()));

    EXPECT_EQ(stored_positions(), positions);

    // The presence test of recovery compares the escaped uid: recovering the
    // same batch inserts nothing.
    zav::pending_insert_file::save(pending_file(), positions, 0);
    store->recover_if_failed();
    EXPECT_EQ(stored_positions().size(), positions.size());
}

TEST_F(DatabaseImplTest, AFailingPieceLeavesTheEarlierPiecesWholeAndNothingOfItself)
{
    // The third piece of two rows fails in its INSERT (the server refuses
    // its second row) after the pieces before it were committed.
    auto positions = five_positions();
    positions.push_back(pos("REFUSED", ms(noon + 5000), 5, -5));
    positions.push_back(pos("T1", ms(noon + 6000), 6, -6));
    m_sql->execute(
        "CREATE TRIGGER positions_refuse BEFORE INSERT ON positions FOR EACH ROW BEGIN IF "
        "NEW.trackable_uid = 'REFUSED' THEN SIGNAL SQLSTATE '45000' SET MESSAGE_TEXT = 'refused'; END IF; "
        "END");
    auto store = make_store(2);
    {
        trackmend_test::stderr_capture quiet;
        EXPECT_NE(store_error_of([&] { store->write_positions(positions, {}); }).find("refused"),
                  std::string::npos);
    }
    m_sql->execute("DROP TRIGGER positions_refuse");
    EXPECT_EQ(stored_positions(), zav::positions_vector(positions.begin(), positions.begin() + 4))
        << "two whole pieces, nothing of the third";

    // The lease fence failing in the round trip that begins a piece: the
    // piece before is in, nothing of the next one.
    m_sql->execute("TRUNCATE TABLE positions");
    boost::filesystem::remove(pending_file());
    m_sql->execute(
        "CREATE TRIGGER lease_lost AFTER INSERT ON positions FOR EACH ROW BEGIN IF NEW.trackable_uid = "
        "'REFUSED' THEN UPDATE trackmend_writer_lease SET holder_id = 'another daemon'; END IF; END");
    {
        trackmend_test::stderr_capture quiet;
        EXPECT_NE(
            store_error_of([&] { store->write_positions(positions, {}); }).find("held by another daemon"),
            std::string::npos);
    }
    m_sql->execute("DROP TRIGGER lease_lost; DELETE FROM trackmend_writer_lease");
    EXPECT_EQ(stored_positions(), zav::positions_vector(positions.begin(), positions.begin() + 6))
        << "the piece that changed the lease was committed, the fence of the next one failed";

    // Recovery by a daemon holding the lease completes the batch exactly.
    m_sql->execute("TRUNCATE TABLE positions");
    boost::filesystem::remove(pending_file());
    make_store(1000)->write_positions({positions.begin(), positions.begin() + 4}, {});
    zav::pending_insert_file::save(pending_file(), positions, 0);
    make_store(2)->recover_if_failed();
    EXPECT_EQ(stored_positions(), positions);
}

TEST_F(DatabaseImplTest, AWriteWhoseFileCannotBeWrittenCommitsNothing)
{
    // The first piece is inserted while the batch goes to its file; without
    // the file it must not stay, since no recovery would know of it.
    auto store = make_store(2);
    boost::filesystem::remove_all(m_dir);
    {
        trackmend_test::stderr_capture quiet;
        EXPECT_NE(store_error_of([&] { store->write_positions(five_positions(), {}); }).find("database.bin"),
                  std::string::npos);
    }
    EXPECT_TRUE(stored_positions().empty());

    // The same store writes the batch once the directory is back.
    boost::filesystem::create_directories(m_dir);
    store->write_positions(five_positions(), {});
    EXPECT_EQ(stored_positions(), five_positions());
    EXPECT_FALSE(boost::filesystem::exists(pending_file()));
}

TEST_F(DatabaseImplTest, RecoveryIsExactWithDuplicatesAnyPieceSizeAndTheOldFileFormat)
{
    // Every row twice (two gateways reporting one tag), and a row of an
    // earlier write that shares the batch's earliest time.
    zav::positions_vector batch;
    for (int i = 0; i < 6; ++i)
        for (int twice = 0; twice < 2; ++twice) batch.push_back(pos("T1", ms(noon + i * 1000), i, -i));
    const auto earlier = pos("T0", ms(noon), 9, 9);
    auto sorted = [](zav::positions_vector _v) {
        std::sort(_v.begin(), _v.end(), [](const zav::position& _a, const zav::position& _b) {
            return std::tie(_a.ts, _a.trackable_uid, _a.x) < std::tie(_b.ts, _b.trackable_uid, _b.x);
        });
        return _v;
    };
    zav::positions_vector expected = batch;
    expected.push_back(earlier);
    expected = sorted(expected);

    // Interrupted after the first 3 pieces of size 2 (6 rows; the third
    // piece's first row has its twin in the second piece), completed with
    // piece size 5, and after 4 rows, with piece size 1000.
    for (auto [written, piece_size] : {std::pair{6, 5}, {4, 1000}, {0, 3}, {12, 2}}) {
        m_sql->execute("TRUNCATE TABLE positions");
        make_store(1000)->write_positions({earlier}, {});
        zav::pending_insert_file::save(pending_file(), batch, 1);
        if (written > 0) make_store(1000)->write_positions({batch.begin(), batch.begin() + written}, {});
        boost::filesystem::remove(pending_file());
        zav::pending_insert_file::save(pending_file(), batch, 1);
        make_store(piece_size)->recover_if_failed();
        EXPECT_EQ(sorted(stored_positions()), expected)
            << written << " rows written, piece size " << piece_size;
        EXPECT_FALSE(boost::filesystem::exists(pending_file()));
    }

    // A file left by the previous version (a text archive of the batch only)
    // is completed after the upgrade.
    m_sql->execute("TRUNCATE TABLE positions");
    make_store(1000)->write_positions({earlier}, {});
    make_store(1000)->write_positions({batch.begin(), batch.begin() + 5}, {});
    {
        std::ofstream file(pending_file());
        boost::archive::text_oarchive archive(file);
        archive << batch;
    }
    make_store(4)->recover_if_failed();
    EXPECT_EQ(sorted(stored_positions()), expected) << "old file format";

    // No file, or an empty batch: nothing is sent but the renewal of the
    // writer lease, one SELECT ... FOR UPDATE per recovery.
    auto without_file = make_store();
    auto with_empty_batch = make_store();
    const long long selects_before = server_count("Com_select");
    without_file->recover_if_failed();
    zav::pending_insert_file::save(pending_file(), {}, 0);
    with_empty_batch->recover_if_failed();
    EXPECT_EQ(server_count("Com_select") - selects_before, 2);
    EXPECT_FALSE(boost::filesystem::exists(pending_file()));
}

TEST_F(DatabaseImplTest, RecoveryStopsWhenPositionsDoesNotFitThePendingWrite)
{
    const auto positions = five_positions();
    auto store = make_store(2);
    store->write_positions(positions, {});
    // Recorded as if positions had been empty from the batch's time on: the
    // table now holds five rows of it, and five more from another writer.
    store->write_positions(five_positions(), {});
    zav::pending_insert_file::save(pending_file(), positions, 0);
    trackmend_test::stderr_capture quiet;
    EXPECT_THROW(store->recover_if_failed(), zav::inconsistent_state_error);
    EXPECT_TRUE(boost::filesystem::exists(pending_file())) << "kept for the operator";
    EXPECT_EQ(stored_positions().size(), 10u) << "nothing guessed";

    // A count that fits while the prefix is not what positions holds.
    m_sql->execute("TRUNCATE TABLE positions");
    store->write_positions({pos("X", ms(noon + 1000), 1, 1)}, {});
    zav::pending_insert_file::save(pending_file(), positions, 0);
    EXPECT_THROW(store->recover_if_failed(), zav::inconsistent_state_error);
}

TEST_F(DatabaseImplTest, AnInterruptedWriteIsDroppedOnlyWhenAnotherDaemonHeldTheLeaseSince)
{
    // This daemon's write was cut off before any piece went in; another
    // daemon (its own state directory, so its own writer id) took the lease
    // over and wrote the batch and more. Completing the batch would write it
    // twice: it is dropped, nothing is stopped.
    const auto positions = five_positions();
    make_store()->recover_if_failed();
    zav::pending_insert_file::save(pending_file(), positions, 0);
    const auto other_dir = m_dir / "other";
    boost::filesystem::create_directories(other_dir);
    {
        zav::database_impl other({{m_server.host, m_server.port}}, m_server.user, m_server.password,
                                 m_server.schema, *m_signals, m_logger, 1000, other_dir.string());
        other.recover_if_failed();
        other.write_positions(positions, {});
        other.write_positions({pos("X", ms(noon + 60000), 1, 1)}, {});
    }
    make_store()->recover_if_failed();
    EXPECT_FALSE(boost::filesystem::exists(pending_file()));
    EXPECT_EQ(stored_positions().size(), positions.size() + 1) << "nothing written twice";

    // The same table without a take-over in between does not fit the
    // recorded count: the daemon stops.
    zav::pending_insert_file::save(pending_file(), positions, 0);
    trackmend_test::stderr_capture quiet;
    EXPECT_THROW(make_store()->recover_if_failed(), zav::inconsistent_state_error);
}

TEST_F(DatabaseImplTest, OutageFailsTheWriteAndConstructionRetriesUntilTheServerCameBack)
{
    if (!m_server.can_restart())
        GTEST_SKIP() << "TRACKMEND_TEST_DB_DIR is not set: the server cannot be restarted";
    auto store = make_store(2);
    store->recover_if_failed();  // as every run does first: takes the writer lease
    ASSERT_TRUE(m_server.stop());
    const auto positions = five_positions();
    std::unique_ptr<zav::database_impl> second;
    std::string log;
    {
        trackmend_test::stderr_capture captured;
        EXPECT_NE(store_error_of([&] { store->write_positions(positions, {}); }), "<no exception>");
        EXPECT_FALSE(boost::filesystem::exists(pending_file()))
            << "nothing was recorded, as nothing can have been inserted: the window is read again";
        std::thread restart([&] {
            std::this_thread::sleep_for(std::chrono::seconds(1));
            m_server.start();
        });
        EXPECT_NO_THROW(second = make_store());
        restart.join();
        log = captured.text();
    }
    EXPECT_NE(log.find("MariaDB Error(2002)"), std::string::npos) << "the failed attempt was logged";
    ASSERT_TRUE(second);

    store->write_positions(positions, {});  // the same store reconnects by itself
    m_sql = m_server.connect();
    EXPECT_EQ(stored_positions(), positions);
    EXPECT_EQ(second->get_last_position_timestamp(), positions.back().ts);
}

TEST_F(DatabaseImplTest, DatabaseErrorsAreLocatedAtTheStoreOperation)
{
    auto store = make_store();
    m_sql->execute("RENAME TABLE positions TO positions_away");
    std::string function, error;
    {
        trackmend_test::stderr_capture quiet;
        error = store_error_of([&] { store->clear_positions_table(); }, &function);
    }
    m_sql->execute("RENAME TABLE positions_away TO positions");
    EXPECT_EQ(error, "Table 'trackmend_test.positions' doesn't exist");
    EXPECT_NE(function.find("clear_positions_table"), std::string::npos) << function;
}

TEST_F(DatabaseImplTest, ConstructionEndsWithInterruptedOnceASignalArrived)
{
    ::kill(::getpid(), SIGTERM);
    for (int i = 0; i < 500 && !m_signals->signal_is_received(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(m_signals->signal_is_received());

    trackmend_test::stderr_capture quiet;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(store_error_of([&] { make_store(1000, 1); }), "Interrupted") << "nothing listens on port 1";
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(4)) << "no retry wait";
    EXPECT_EQ(store_error_of([&] { make_store(0); }), "insert_piece_size must be at least 1, not 0");
}
