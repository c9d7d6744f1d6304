#include "batch/writing_thread.hpp"

#include <exception>
#include <stdexcept>

namespace zav {

namespace {

constexpr std::size_t block_records = 1 << 14;

}  // namespace

writing_thread::writing_thread(csv_position_writer& _writer)
    : m_writer(_writer), m_filling(std::make_unique<block>()), m_free(std::make_unique<block>())
{
    m_filling->records.reserve(block_records);
    m_free->records.reserve(block_records);
    m_thread = std::thread([this] { write_all(); });
}

writing_thread::~writing_thread()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

void writing_thread::throw_if_failed() const
{
    if (!m_error.empty()) throw std::runtime_error(m_error);
}

void writing_thread::write(const position_record& _record, const record_strings& _strings)
{
    m_filling->records.push_back(_record);
    if (m_filling->records.size() >= block_records) hand_over(_strings);
}

void writing_thread::hand_over(const record_strings& _strings)
{
    _strings.texts_from(m_texts_handed_over, m_filling->new_texts);
    m_texts_handed_over = _strings.size();
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_free != nullptr || !m_error.empty(); });
    throw_if_failed();
    m_ready = std::move(m_filling);
    m_filling = std::move(m_free);
    m_changed.notify_all();
}

void writing_thread::wait_idle(std::unique_lock<std::mutex>& _lock)
{
    m_changed.wait(_lock, [this] { return (m_ready == nullptr && !m_writing) || !m_error.empty(); });
}

void writing_thread::finish(const record_strings& _strings)
{
    hand_over(_strings);
    std::unique_lock lock(m_mutex);
    wait_idle(lock);
    throw_if_failed();
    // The thread is idle: the writer is the caller's again.
    m_writer.flush();
}

void writing_thread::write_all()
{
    for (;;) {
        std::unique_ptr<block> current;
        {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [this] { return m_stop || m_ready != nullptr; });
            if (m_stop) return;
            current = std::move(m_ready);
            m_writing = true;
        }
        std::string error;
        try {
            m_strings.adopt(current->new_texts);
            for (const position_record& r : current->records) m_writer.write(r, m_strings);
        } catch (const std::exception& e) {
            error = e.what();
        }
        current->records.clear();
        current->new_texts.clear();
        const std::lock_guard lock(m_mutex);
        m_free = std::move(current);
        m_writing = false;
        if (!error.empty()) m_error = error;
        m_changed.notify_all();
        if (!m_error.empty()) return;
    }
}

}  // namespace zav
