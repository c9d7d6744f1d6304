#include "core/atomic_file.hpp"

#include "core/exception.hpp"
#include "core/output_file.hpp"

#include <sstream>
#include <stdexcept>

namespace zav::libs::core {

void write_file_atomically(const std::string& _path, const std::function<void(std::ostream&)>& _write,
                           file_system& _fs)
{
    // The whole content is rendered first, so a failing writer never touches
    // the file system.
    std::ostringstream content;
    _write(content);
    if (!content) throw exception("Cannot render the content of '" + _path + "'", CORE_SOURCE_LOCATION);
    write_file_atomically(_path, content.view(), _fs);
}

void write_file_atomically(const std::string& _path, std::string_view _content, file_system& _fs)
{
    prepared_file(_path, _content, _fs).commit();
}

prepared_file::prepared_file(const std::string& _path, std::string_view _content, file_system& _fs)
{
    // A crash between creating and renaming the temporary file leaves it
    // behind; the next write removes it, so leftovers never pile up. Those
    // of writers still at work in this process stay.
    output_file::remove_leftovers(_path, output_file::leftovers::all);
    try {
        m_file = std::make_unique<output_file>(_path, _fs);
        m_file->write(_content);
        m_file->sync();
    } catch (const std::runtime_error& e) {
        m_file.reset();
        throw exception(e.what(), CORE_SOURCE_LOCATION);
    }
}

prepared_file::prepared_file(prepared_file&&) noexcept = default;
prepared_file& prepared_file::operator=(prepared_file&&) noexcept = default;
prepared_file::~prepared_file() = default;

void prepared_file::commit()
{
    try {
        m_file->commit(true);
    } catch (const std::runtime_error& e) {
        throw exception(e.what(), CORE_SOURCE_LOCATION);
    }
}

}  // namespace zav::libs::core
