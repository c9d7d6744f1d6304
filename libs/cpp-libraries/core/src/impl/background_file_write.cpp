#include "core/background_file_write.hpp"

#include "core/atomic_file.hpp"

#include <utility>

namespace zav::libs::core {

background_file_write::background_file_write(std::string _path, std::string _content, file_system& _fs)
    : m_thread([this, path = std::move(_path), content = std::move(_content), &_fs] {
          try {
              write_file_atomically(path, content, _fs);
          } catch (...) {
              m_failure = std::current_exception();
          }
      })
{
}

background_file_write::~background_file_write()
{
    if (m_thread.joinable()) m_thread.join();
}

void background_file_write::wait()
{
    if (!m_thread.joinable()) return;
    m_thread.join();
    if (m_failure) std::rethrow_exception(std::exchange(m_failure, nullptr));
}

}  // namespace zav::libs::core
