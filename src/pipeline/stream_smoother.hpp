#pragma once

#include "pipeline/coordinates.hpp"
#include "pipeline/gap_filler.hpp"
#include "pipeline/position_record.hpp"
#include "pipeline/sliding_median.hpp"
#include "pipeline/track_sample.hpp"
#include "position.hpp"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

namespace zav {

// The post-processing pipeline over a stream: positions go in as they arrive,
// in pieces of any size, and come out filtered, together with the synthetic
// positions of the gaps, once a position 10 s newer than them has arrived.
//
// Its results are those of positions_post_processor::process_positions called
// piece by piece, each piece being the previous call's held-back positions
// followed by the newly arrived ones, with the carry-over handed on; that
// function is this class run for one piece. Here, what one piece leaves for
// the next stays in place: the held-back positions, the carry-over and, per
// object, the samples that later median windows reach. In the usual case (no
// position arrives older than one already processed) each position is
// indexed, filtered and handed out once, so the cost per position does not
// depend on how much is held back. Anything else rebuilds the per-object
// state from the carry-over and the held-back positions, which is exact at a
// cost of the state's size.
class stream_smoother
{
public:
    using sink = std::function<void(const position&)>;
    // Receives records whose texts are in strings().
    using record_sink = std::function<void(const position_record&)>;

    // Starts from a carry-over made elsewhere: _raw for the median windows,
    // _filtered for the gaps, each in the order of processing. They need not
    // pair up.
    void set_carry_over(positions_vector _raw, positions_vector _filtered);

    // Adds newly arrived positions, in any order, and hands the positions that
    // this makes processable to _sink: the filtered ones and the synthetic
    // ones, ascending by time (a filtered one before a synthetic one of equal
    // time). The positions at most 10 s older than the newest one are held
    // back. The carry-over then keeps the processed positions at most 10 s
    // older than the newest one processed by this call, so that a position
    // processed long before takes no look-back away. Returns the emptied
    // buffer of _arrived, for the caller's next piece.
    positions_vector push(positions_vector _arrived, const sink& _sink);
    // The same, handing out records: no position is rebuilt for them.
    positions_vector push_records(positions_vector _arrived, const record_sink& _sink);
    // The same for records whose texts were numbered in strings(); returns
    // the emptied buffer of _arrived.
    std::vector<position_record> push_records(std::vector<position_record> _arrived,
                                              const record_sink& _sink);

    // The texts of the records handed out; a text's number and its string
    // stay valid for the smoother's lifetime. Texts may be added to it, to
    // number those of records handed to push_records().
    const record_strings& strings() const { return m_strings; }
    record_strings& strings() { return m_strings; }

    // The state, as positions_post_processor::additional_data holds it.
    positions_vector held_back() const;
    positions_vector carried_raw() const;
    positions_vector carried_filtered() const;

    std::size_t held_back_count() const { return m_pending.size(); }
    // Synthetic positions handed out so far.
    std::uint64_t synthetic_count() const { return m_synthetic; }
    // The first held-back position of the newest time; something must be held back.
    const position_record& newest_held_back() const;

private:
    static constexpr std::uint64_t no_index = UINT64_MAX;

    // Per object, all that a position of it touches, in one cache line: an
    // object is visited several times per position, at random among
    // thousands of others.
    struct alignas(64) object_state
    {
        // The samples with coordinates of the carry-over and the held-back
        // positions, in the order of processing; those before head are out
        // of every later window, those from first_pending on are held back.
        std::vector<track_sample> samples;
        // m_filtered's index and the time of the object's latest filtered
        // sample, where gaps start; it counts while that index is still in
        // m_filtered.
        std::uint64_t last_filtered = no_index;
        std::int64_t last_filtered_ts = 0;
        // How many of its samples the current call processes.
        std::uint64_t call = 0;
        // Counts of one object's samples within some 11 s, far below 2^32.
        std::uint32_t processed = 0;
        std::uint32_t head = 0;
        std::uint32_t first_pending = 0;
    };
    static_assert(sizeof(object_state) == 64);

    position_record record_of(const position& _position);
    // Gives every text of m_strings an object state.
    void cover_strings();
    void add(std::vector<position_record>& _arrived);
    void process(const record_sink& _sink);
    positions_vector positions_of(const std::deque<position_record>& _records) const;
    void rebuild();
    void filter(std::size_t _count);
    void smooth_and_emit(std::size_t _count, const record_sink& _sink);
    void carry(std::size_t _count);

    // Objects are known by the number of their uid among the record texts.
    record_strings m_strings;
    std::vector<object_state> m_objects;

    // Held back, in time order; m_pending_first numbers m_pending.front().
    std::deque<position_record> m_pending;
    std::uint64_t m_pending_first = 0;
    // The carry-over, in the order of processing.
    std::deque<position_record> m_raw;
    std::deque<position_record> m_filtered;
    std::uint64_t m_filtered_first = 0;
    bool m_raw_in_time_order = true;
    bool m_filtered_in_time_order = true;
    bool m_processed_any = false;
    std::int64_t m_newest_processed = 0;

    // Whether m_objects describes the carry-over and the held-back
    // positions; when false, rebuild() makes them anew before the next filter.
    bool m_index_valid = true;
    std::uint64_t m_call = 0;
    std::uint64_t m_synthetic = 0;

    // Reused from call to call.
    std::vector<position_record> m_arrived;
    std::vector<std::uint32_t> m_touched;
    std::vector<coordinates> m_medians;
    sliding_median m_median;
    gap_filler m_gaps;
    position m_out;
};

}  // namespace zav
