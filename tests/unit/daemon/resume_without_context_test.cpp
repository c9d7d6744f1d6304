#include "daemon/resume_without_context.hpp"

#include "positions_post_processor.hpp"
#include "support/positions.hpp"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using zav::test::ms;
using zav::test::pos;

zav::timestamp at(long long _ms) { return zav::timestamp(ms(_ms)); }

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
        auto result = zav::positions_not_yet_written(rebuilt, window, last);

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
