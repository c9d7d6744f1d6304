#pragma once

#include "batch/csv_line_reader.hpp"
#include "pipeline/position_record.hpp"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zav {

// Reads and parses the pieces of a batch input on a thread of its own, up to
// one block of pieces ahead of their use, so that parsing the next piece
// overlaps with smoothing and writing the current one. Pieces cross over in
// blocks of many pieces, so that even pieces of a few positions cost no
// synchronisation each. The pieces are exactly those of reading on the
// caller's thread: _piece_size valid positions each, the last one shorter,
// and where the input ends after a full piece, one more empty piece.
class piece_reader
{
public:
    struct piece
    {
        std::size_t end;  // one past its last record in records
        // The counts when the piece was complete, for the progress report
        // and the summary: bytes and lines read, and the lines among them
        // that are of another kind than positions.
        std::uint64_t consumed_bytes;
        std::uint64_t lines;
        std::uint64_t other_kinds;
        bool at_end;  // the input ended with this piece; it is the last one
    };

    // Consecutive pieces and the texts they number for the first time.
    struct block
    {
        std::vector<position_record> records;
        std::vector<piece> pieces;
        // The texts numbered since the previous block, in the order of
        // their numbers: the user numbers them in its own table likewise.
        std::vector<std::string> new_texts;
        // Reading failed after the pieces: the reason (no further block follows).
        std::string error;

        void clear();
    };

    // _input must outlive the reader; reading starts at once. _piece_size is
    // at least 1.
    piece_reader(csv_line_reader& _input, std::size_t _piece_size);
    // Stops reading, also when not everything was taken, and returns as soon
    // as the reading thread has finished the line it was reading (or, for a
    // pipe, once its next read has returned).
    ~piece_reader();

    piece_reader(const piece_reader&) = delete;
    piece_reader& operator=(const piece_reader&) = delete;

    // The next block, waiting for it; the block returned by the previous
    // call goes back for reuse, with whatever buffers it holds then (its
    // records may be swapped for another buffer). Not to be called after a
    // block with an error or with a piece at the end.
    block& next();

private:
    void read_all();
    // Fills _block with pieces; false when no further block follows.
    bool fill(block& _block);

    csv_line_reader& m_input;
    const std::size_t m_piece_size;
    // The reading thread's own numbering of texts.
    record_strings m_strings;
    std::size_t m_texts_handed_out = 0;
    std::uint64_t m_other_kinds = 0;

    std::mutex m_mutex;
    std::condition_variable m_changed;
    // Two blocks go round, one being read while the other is in use, so
    // that at most one piece more than without the thread is in memory.
    std::vector<std::unique_ptr<block>> m_free;
    std::unique_ptr<block> m_ready;
    std::unique_ptr<block> m_in_use;
    // Set by the destructor; the reading thread also looks at it after every
    // line, without the lock, so that a huge piece is not read to its end
    // first.
    std::atomic<bool> m_stop = false;

    std::thread m_thread;
};

}  // namespace zav
