// The position store against a real MariaDB server, found through
// TRACKMEND_TEST_DB_* (bench/database.sh starts a private one):
// - write_positions of 1,000,000 positions at insert_piece_size 1000, and
//   the same rows sent as the same multi-row INSERT text by the mariadb
//   command-line client, in the same run;
// - get_raw_positions of one window of 1,000,000 raw rows, and the mapping of
//   those rows alone (the query excluded).

#include "database_impl.hpp"
#include "store/insert_statement.hpp"
#include "store/raw_position_reader.hpp"

#include "core/core.hpp"
#include "core/logger.hpp"

#include "support/mariadb_test_server.hpp"

#include <benchmark/benchmark.h>
#include <boost/filesystem.hpp>

#include <cstdio>
#include <fstream>
#include <iostream>

namespace {

using trackmend_test::mariadb_test_server;

constexpr int row_count = 1'000'000;
constexpr int piece_size = 1000;
// 2024-05-01 12:00:00.000 UTC
constexpr long long noon = 1714564800000;

struct environment
{
    mariadb_test_server server;
    boost::filesystem::path dir;
    zav::libs::core::logger logger{"trackmend_bench", "main"};
    zav::libs::core::core::ptr core = zav::libs::core::core::create(logger);
    zav::libs::core::events_loop::ptr loop = core->create_events_loop("main");
    zav::libs::core::events_loop::signals_handle::ptr signals = loop->stop_on_signals();
    mariadb::connection_ref sql;
    std::unique_ptr<zav::database_impl> store;

    explicit environment(mariadb_test_server _server)
        : server(std::move(_server)),
          dir(boost::filesystem::temp_directory_path() / boost::filesystem::unique_path("store-bench-%%%%"))
    {
        boost::filesystem::create_directories(dir);
        sql = server.connect();
        store = std::make_unique<zav::database_impl>(zav::node_addresses{{server.host, server.port}},
                                                     server.user, server.password, server.schema, *signals,
                                                     logger, piece_size, dir.string());
    }
    ~environment() { boost::filesystem::remove_all(dir); }

    std::string client_command() const
    {
        return "mariadb --local-infile=1 --max-allowed-packet=256M -h " + server.host + " -P " +
               std::to_string(server.port) + " -u " + server.user + " --password=" + server.password + " " +
               server.schema;
    }
};

environment* env()
{
    static std::unique_ptr<environment> instance = [] {
        auto server = mariadb_test_server::from_environment();
        return server ? std::make_unique<environment>(*server) : nullptr;
    }();
    return instance.get();
}

const zav::positions_vector& positions()
{
    static const zav::positions_vector all = [] {
        zav::positions_vector result;
        result.reserve(row_count);
        for (int i = 0; i < row_count; ++i) {
            zav::position p;
            p.trackable_id = i % 100;
            p.trackable_uid = "TAG-" + std::to_string(i % 100);
            p.mac_address = "00:11:22:33:44:" + std::to_string(10 + i % 90);
            p.ts = zav::timestamp(std::chrono::milliseconds(noon + i * 10LL));
            p.x = 1000 + i % 5000;
            p.y = -2000 + i % 3000;
            p.z = 150;
            p.area_uid = "area-" + std::to_string(i % 7);
            p.project_uid = "project-1";
            p.inactive = static_cast<short>(i % 2);
            result.push_back(p);
        }
        return result;
    }();
    return all;
}

// The statements write_positions sends, one per line, for the client.
std::string insert_script()
{
    const std::string path = (env()->dir / "insert.sql").string();
    if (!boost::filesystem::exists(path)) {
        std::ofstream out(path);
        const auto& all = positions();
        for (std::size_t begin = 0; begin < all.size(); begin += piece_size) {
            const auto end = std::min(all.size(), begin + piece_size);
            out << zav::render_insert_statement(
                       boost::sub_range<const zav::positions_vector>(all.begin() + begin, all.begin() + end),
                       [](std::string_view _text) { return std::string(_text); })
                << ";\n";
        }
    }
    return path;
}

void run_or_fail(benchmark::State& _state, const std::string& _command)
{
    if (std::system(_command.c_str()) != 0) _state.SkipWithError(("failed: " + _command).c_str());
}

void set_rate(benchmark::State& _state, std::size_t _rows)
{
    _state.counters["rows_per_second"] =
        benchmark::Counter(static_cast<double>(_rows), benchmark::Counter::kIsIterationInvariantRate);
}

void BM_mariadb_client_insert(benchmark::State& _state)
{
    if (!env()) return _state.SkipWithError(mariadb_test_server::skip_message);
    const std::string script = insert_script();
    for (auto _ : _state) {
        _state.PauseTiming();
        env()->sql->execute("TRUNCATE TABLE positions");
        _state.ResumeTiming();
        run_or_fail(_state, env()->client_command() + " < " + script);
    }
    set_rate(_state, positions().size());
}

void BM_write_positions(benchmark::State& _state)
{
    if (!env()) return _state.SkipWithError(mariadb_test_server::skip_message);
    const auto& all = positions();
    for (auto _ : _state) {
        _state.PauseTiming();
        env()->sql->execute("TRUNCATE TABLE positions");
        _state.ResumeTiming();
        env()->store->write_positions(all, {});
    }
    set_rate(_state, all.size());
}

// positions_raw with the positions above as raw rows, every 50th a heartbeat,
// times with six fraction digits.
void load_raw_rows(benchmark::State& _state)
{
    static bool loaded = false;
    if (loaded) return;
    const std::string path = (env()->dir / "raw.tsv").string();
    {
        std::ofstream out(path);
        int i = 0;
        for (const auto& p : positions()) {
            out << p.trackable_id << '\t' << p.trackable_uid << '\t' << *p.mac_address << '\t'
                << p.ts.to_iso_8601_string(true) << "123\t" << *p.x << '\t' << *p.y << '\t' << *p.z << '\t'
                << *p.area_uid << '\t' << *p.project_uid << '\t' << *p.inactive << '\t'
                << (i++ % 50 == 0 ? "HB" : "P") << '\n';
        }
    }
    env()->sql->execute("TRUNCATE TABLE positions_raw");
    run_or_fail(_state,
                env()->client_command() + " -e \"LOAD DATA LOCAL INFILE '" + path +
                    "' INTO TABLE positions_raw FIELDS TERMINATED BY '\\t' (trackable_id, trackable_uid, "
                    "mac_address, ts, x, y, z, area_uid, project_uid, inactive, type)\"");
    loaded = true;
}

const zav::timestamp window_start{std::chrono::milliseconds(noon - 1000)};
const std::chrono::seconds window_length(row_count / 100 + 10);

void BM_get_raw_positions(benchmark::State& _state)
{
    if (!env()) return _state.SkipWithError(mariadb_test_server::skip_message);
    load_raw_rows(_state);
    std::size_t rows = 0;
    for (auto _ : _state) {
        const auto window = env()->store->get_raw_positions(window_start, window_length);
        rows = window.size();
        benchmark::DoNotOptimize(window.data());
    }
    set_rate(_state, rows);
}

// The raw rows of the whole table through the prepared SELECT that the
// store runs, handed to _add row by row. Rows are streamed, so the server's
// time cannot be left out: the mapping's own cost is the difference of
// BM_read_raw_positions over BM_fetch_raw_rows.
template <typename Add>
void read_whole_table(const Add& _add)
{
    mariadb::bulk_rows any_id({mariadb::bulk_rows::kind::integer});
    any_id.add_integer(0);
    env()->sql->query_prepared("SELECT * FROM positions_raw WHERE type != 'HB' and id > ?", any_id, _add);
}

void BM_fetch_raw_rows(benchmark::State& _state)
{
    if (!env()) return _state.SkipWithError(mariadb_test_server::skip_message);
    load_raw_rows(_state);
    std::size_t rows = 0;
    for (auto _ : _state) {
        rows = 0;
        read_whole_table([&rows](const mariadb::binary_row&) { ++rows; });
    }
    set_rate(_state, rows);
}

void BM_read_raw_positions(benchmark::State& _state)
{
    if (!env()) return _state.SkipWithError(mariadb_test_server::skip_message);
    load_raw_rows(_state);
    std::size_t rows = 0;
    for (auto _ : _state) {
        zav::positions_vector mapped;
        mapped.reserve(rows);
        zav::raw_position_reader reader(env()->logger, mapped);
        read_whole_table([&reader](const mariadb::binary_row& _row) { reader.add(_row); });
        rows = mapped.size();
        benchmark::DoNotOptimize(mapped.data());
    }
    set_rate(_state, rows);
}

BENCHMARK(BM_mariadb_client_insert)->Iterations(1)->Repetitions(2)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_write_positions)->Iterations(1)->Repetitions(2)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_get_raw_positions)->Iterations(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_fetch_raw_rows)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_read_raw_positions)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
