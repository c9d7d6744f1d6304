// Throughput of process_positions, the indexed pipeline against the literal
// one, by the number of interleaved objects.
//
// Every object reports at 10 Hz with a little jitter; 1 % of the samples lack
// a coordinate and every object has a gap of about 2.5 s now and then. Each
// measured call is a steady-state call: the previous call's held-back part
// (the newest 10 s) followed by the newly arrived positions of the next
// seconds, with the previous call's carry-over. Arguments: the number of
// objects and the seconds of new positions per call.
//
// "pieces_of_10s": 10 s per call, so a call holds 200 positions per object,
// half of them processed; with 1,000 objects that is 100,000 new positions.
// "pieces_of_1m": 1,000,000 new positions per call whatever the number of
// objects, which separates the number of objects from the size of the call.

#include "positions_post_processor.hpp"

#include "support/literal_pipeline.hpp"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <string>

namespace {

using zav::position;
using ppp = zav::positions_post_processor;
using positions = ppp::positions;

constexpr long long period_ms = 100;

// Objects × 10 Hz for _seconds, ascending by time.
positions stream(int _objects, long long _seconds)
{
    std::mt19937_64 rng(static_cast<unsigned long long>(_objects));
    std::uniform_int_distribution<int> jitter(-20, 20);
    std::uniform_int_distribution<int> coordinate(0, 5000);
    std::uniform_int_distribution<int> percent(0, 99);
    positions all;
    all.reserve(static_cast<std::size_t>(_objects) * static_cast<std::size_t>(_seconds * 1000 / period_ms));
    const long long start = 1'700'000'000'000LL;
    for (int o = 0; o < _objects; ++o) {
        const std::string uid = "tag-" + std::to_string(o);
        const long long phase = o * period_ms / _objects;
        int skip = 0;
        for (long long t = 0; t < _seconds * 1000; t += period_ms) {
            if (skip > 0) {
                --skip;
                continue;
            }
            if (percent(rng) == 0 && percent(rng) < 10) skip = 25;
            position p;
            p.trackable_id = o;
            p.trackable_uid = uid;
            p.ts = zav::timestamp(std::chrono::milliseconds(start + t + phase + jitter(rng)));
            if (percent(rng) != 0) p.x = coordinate(rng);
            p.y = coordinate(rng);
            p.z = 150;
            p.area_uid = "area-1";
            p.inactive = 0;
            all.push_back(std::move(p));
        }
    }
    std::stable_sort(all.begin(), all.end(), ppp::timestamp_less);
    return all;
}

struct steady_call
{
    ppp::additional_data context;
    positions piece;
    std::size_t new_positions = 0;
};

// The third call over a stream cut into pieces of _seconds_per_piece.
template <class Pipeline>
steady_call make_steady_call(int _objects, long long _seconds_per_piece, Pipeline _process)
{
    const positions all = stream(_objects, 3 * _seconds_per_piece);
    const auto cut_at = [&](long long _seconds) {
        const zav::timestamp bound = all.front().ts + std::chrono::seconds(_seconds);
        return std::partition_point(all.begin(), all.end(),
                                    [&](const position& _p) { return _p.ts < bound; });
    };
    steady_call call;
    auto from = all.begin();
    for (long long piece = 1; piece <= 3; ++piece) {
        const auto to = cut_at(piece * _seconds_per_piece);
        call.piece = call.context.not_processed_positions;
        call.piece.insert(call.piece.end(), from, to);
        call.new_positions = static_cast<std::size_t>(to - from);
        from = to;
        if (piece < 3) call.context = _process(call.context, call.piece).additional_data_;
    }
    return call;
}

template <class Pipeline>
void run(benchmark::State& _state, Pipeline _process)
{
    const steady_call call = make_steady_call(static_cast<int>(_state.range(0)), _state.range(1), _process);
    for (auto _ : _state) {
        _state.PauseTiming();
        positions piece = call.piece;
        _state.ResumeTiming();
        auto result = _process(call.context, std::move(piece));
        benchmark::DoNotOptimize(result.processed_positions.data());
        _state.PauseTiming();
        result = {};
        _state.ResumeTiming();
    }
    const auto iterations = static_cast<double>(_state.iterations());
    _state.counters["in_call"] = static_cast<double>(call.piece.size());
    _state.counters["positions/s"] =
        benchmark::Counter(static_cast<double>(call.piece.size()) * iterations, benchmark::Counter::kIsRate);
    _state.counters["new/s"] =
        benchmark::Counter(static_cast<double>(call.new_positions) * iterations, benchmark::Counter::kIsRate);
}

void indexed(benchmark::State& _state) { run(_state, ppp::process_positions); }

void literal(benchmark::State& _state) { run(_state, zav::test::literal::process_positions); }

void pieces_of_10s(benchmark::internal::Benchmark* _b, long long _max_objects)
{
    for (long long objects = 1; objects <= _max_objects; objects *= 10) _b->Args({objects, 10});
    _b->ArgNames({"objects", "seconds"})->Unit(benchmark::kMillisecond);
}

void pieces_of_1m(benchmark::internal::Benchmark* _b)
{
    for (long long objects = 1; objects <= 10000; objects *= 10)
        _b->Args({objects, 1'000'000 / (10 * objects)});
    _b->ArgNames({"objects", "seconds"})->Unit(benchmark::kMillisecond);
}

}  // namespace

BENCHMARK(indexed)->Apply([](auto* _b) { pieces_of_10s(_b, 10000); });
BENCHMARK(indexed)->Apply(pieces_of_1m);
// The literal scans walk over every other object's samples: 10,000 objects
// would take hours.
BENCHMARK(literal)->Apply([](auto* _b) { pieces_of_10s(_b, 1000); });
BENCHMARK_MAIN();
