#pragma once

#include "batch/csv_position_writer.hpp"
#include "pipeline/position_record.hpp"

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zav {

// Formats and writes records through a csv_position_writer on a thread of
// its own, in the order they are queued, so that rendering the lines
// overlaps with producing the next records. Records cross over in blocks of
// thousands; the texts cross over with the first block that uses them, so
// the threads share no table.
class writing_thread
{
public:
    // _writer must outlive this object and is used only by its thread
    // until finish() returned.
    explicit writing_thread(csv_position_writer& _writer);
    // Stops the thread; what was queued and not finished may be lost.
    ~writing_thread();

    writing_thread(const writing_thread&) = delete;
    writing_thread& operator=(const writing_thread&) = delete;

    // Queues _record, its texts numbered in _strings; the same table for
    // every call. Throws std::runtime_error with the writer's reason once a
    // write has failed (then nothing more is written).
    void write(const position_record& _record, const record_strings& _strings);
    // Writes everything queued and flushes the writer; throws as write() does.
    void finish(const record_strings& _strings);

private:
    struct block
    {
        std::vector<position_record> records;
        std::vector<std::string> new_texts;
    };

    void hand_over(const record_strings& _strings);
    // Waits until the thread has written every block handed over.
    void wait_idle(std::unique_lock<std::mutex>& _lock);
    void throw_if_failed() const;
    void write_all();

    csv_position_writer& m_writer;
    // The thread's copy of the caller's texts.
    record_strings m_strings;
    std::size_t m_texts_handed_over = 0;
    std::unique_ptr<block> m_filling;

    std::mutex m_mutex;
    std::condition_variable m_changed;
    // Two blocks go round: one filled while the other is written.
    std::unique_ptr<block> m_free;
    std::unique_ptr<block> m_ready;
    bool m_writing = false;
    bool m_stop = false;
    // The writer's reason, once a write failed.
    std::string m_error;

    std::thread m_thread;
};

}  // namespace zav
