#include "daemon/resume_without_context.hpp"

#include "positions_post_processor.hpp"
#include "support/positions.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace {

using zav::test::ms;
using zav::test::pos;

zav::timestamp at(long long _ms) { return zav::timestamp(ms(_ms)); }

// What the runner keeps of a rebuilt window when positions holds _written.
zav::positions_vector resume(const zav::positions_vector& _rebuilt, const zav::positions_vector& _window,
                             zav::timestamp _last, const zav::positions_vector& _written)
{
    auto result = zav::positions_not_yet_written(_rebuilt, _window, _last);
    std::map<std::string, long long> at_last;
    for (const auto& p : _written)
        if (p.ts == _last) ++at_last[p.trackable_uid];
    zav::drop_present_at(result, _last, at_last);
    std::erase_if(result, [&](const zav::position& _p) {
        return _p.ts < _last && std::ranges::any_of(_written, [&](const zav::position& _w) {
                   return _w.trackable_uid == _p.trackable_uid && _w.ts == _p.ts;
               });
    });
    return result;
}

std::vector<std::string> uids_at(const zav::positions_vector& _positions, zav::timestamp _ts)
{
    std::vector<std::string> uids;
    for (const auto& p : _positions)
        if (p.ts == _ts) uids.push_back(p.trackable_uid);
    std::ranges::sort(uids);
    return uids;
}

}  // namespace

// A track processed in one go is the reference; a second writer that starts
// without the carry-over at any point of it, rebuilding from 30 s earlier,
// must add exactly the positions the reference has after that point plus
// the fills of gaps still open there.
TEST(ResumeWithoutContextTest, RebuiltContinuationEqualsTheUninterruptedOutput)
{
    zav::positions_vector raw;
    // Tag A every 0.4 s with a 3.2 s gap at 20 s (filled at 21.2 ... 23.2 s
    // steps); tag B every 0.5 s.
    for (long long t = 0; t < 60'000; t += 400)
        if (t < 20'000 || t > 23'200) raw.push_back(pos("A", ms(t), static_cast<int>(t / 100), 5));
    for (long long t = 100; t < 60'000; t += 500) raw.push_back(pos("B", ms(t), 7, static_cast<int>(t / 50)));
    const auto whole = zav::positions_post_processor::process_positions({}, raw).processed_positions;
    ASSERT_FALSE(whole.empty());

    for (long long cut : {10'000LL, 20'000LL, 21'700LL, 22'800LL, 35'000LL}) {
        // The first writer wrote what the reference has up to the cut, except
        // the fills of A's gap (19.6 s to 23.6 s) while it is still open.
        zav::positions_vector written, open_fills, expected;
        for (const auto& p : whole) {
            const bool fill = p.trackable_uid == "A" && at(19'600) < p.ts && p.ts < at(23'600);
            if (at(cut) < p.ts)
                expected.push_back(p);
            else if (fill && cut < 23'600)
                open_fills.push_back(p);
            else
                written.push_back(p);
        }
        const zav::timestamp last = written.back().ts;

        zav::positions_vector window;
        for (const auto& p : raw)
            if (last - zav::resume_look_back < p.ts) window.push_back(p);
        auto rebuilt = zav::positions_post_processor::process_positions({}, window).processed_positions;
        auto result = resume(rebuilt, window, last, written);

        zav::positions_vector want = open_fills;
        want.insert(want.end(), expected.begin(), expected.end());
        // Compared up to the rebuilt piece's own hold-back.
        const auto horizon = result.empty() ? last : result.back().ts;
        std::erase_if(want, [&](const zav::position& p) { return horizon < p.ts; });
        std::ranges::sort(want, {}, [](const zav::position& p) { return std::pair(p.ts, p.trackable_uid); });
        std::ranges::sort(result, {},
                          [](const zav::position& p) { return std::pair(p.ts, p.trackable_uid); });
        EXPECT_EQ(result, want) << "cut at " << cut << " ms";
    }
}

// The writer before cut its last batch by row count: of the rows that share
// the newest written millisecond it wrote some trackables' and not others'.
// Resuming there writes exactly the missing ones, duplicated raw rows counted
// as often as they occur.
TEST(ResumeWithoutContextTest, RowsSharingTheNewestWrittenMillisecondAreCompletedExactly)
{
    zav::positions_vector raw;
    for (long long t = 0; t < 60'000; t += 200)
        for (const char* uid : {"A", "B", "C"}) raw.push_back(pos(uid, ms(t), static_cast<int>(t / 10), 1));
    // C's row at 30 s comes twice.
    raw.push_back(pos("C", ms(30'000), 3000, 1));
    std::ranges::stable_sort(raw, {}, [](const zav::position& p) { return p.ts; });
    const auto whole = zav::positions_post_processor::process_positions({}, raw).processed_positions;
    const zav::timestamp last = at(30'000);
    ASSERT_EQ(uids_at(whole, last), (std::vector<std::string>{"A", "B", "C", "C"}));

    zav::positions_vector window;
    for (const auto& p : raw)
        if (last - zav::resume_look_back < p.ts) window.push_back(p);
    const auto rebuilt = zav::positions_post_processor::process_positions({}, window).processed_positions;

    const auto written_up_to = [&](std::vector<std::string> _at_last) {
        zav::positions_vector written;
        for (const auto& p : whole) {
            if (p.ts < last) written.push_back(p);
            if (p.ts != last) continue;
            const auto found = std::ranges::find(_at_last, p.trackable_uid);
            if (found == _at_last.end()) continue;
            _at_last.erase(found);
            written.push_back(p);
        }
        return written;
    };
    using uids = std::vector<std::string>;
    for (const auto& [at_last, missing] : std::vector<std::pair<uids, uids>>{{{"A", "B"}, {"C", "C"}},
                                                                             {{"A", "B", "C"}, {"C"}},
                                                                             {{"A", "B", "C", "C"}, {}},
                                                                             {{"C"}, {"A", "B", "C"}}}) {
        const auto result = resume(rebuilt, window, last, written_up_to(at_last));
        EXPECT_EQ(uids_at(result, last), missing) << "written at the newest millisecond: " << at_last.size();
        EXPECT_TRUE(std::ranges::all_of(result, [&](const zav::position& p) { return !(p.ts < last); }));
    }
}
