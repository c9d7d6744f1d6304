#include "core/atomic_file.hpp"

#include "core/exception.hpp"
#include "core/output_file.hpp"

#include <dirent.h>
#include <sstream>
#include <stdexcept>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace zav::libs::core {

namespace {

std::string directory_of(const std::string& _path)
{
    const auto slash = _path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : _path.substr(0, slash);
}

// A crash between creating and renaming the temporary file leaves it behind;
// the next write of the same file removes such leftovers so they never pile
// up. Only one process writes a given state file (the daemon holds the PID
// file lock), so a leftover is never another writer's file in progress.
void remove_leftover_temporaries(const std::string& _path)
{
    const std::string directory = directory_of(_path);
    const auto slash = _path.rfind('/');
    const std::string prefix = (slash == std::string::npos ? _path : _path.substr(slash + 1)) + ".tmp.";
    DIR* dir = ::opendir(directory.c_str());
    if (dir == nullptr)
        return;
    std::vector<std::string> leftovers;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name(entry->d_name);
        if (name.size() > prefix.size() && name.starts_with(prefix))
            leftovers.emplace_back(name);
    }
    ::closedir(dir);
    for (const auto& name : leftovers)
        ::unlink((directory + "/" + name).c_str());
}

}  // namespace

void write_file_atomically(const std::string& _path, const std::function<void(std::ostream&)>& _write)
{
    // The whole content is rendered first, so a failing writer never touches
    // the file system.
    std::ostringstream content;
    _write(content);
    if (!content)
        throw exception("Cannot render the content of '" + _path + "'", CORE_SOURCE_LOCATION);

    remove_leftover_temporaries(_path);
    try {
        output_file file(_path);
        file.write(content.view());
        file.commit(true);
    } catch (const std::runtime_error& e) {
        throw exception(e.what(), CORE_SOURCE_LOCATION);
    }
}

}  // namespace zav::libs::core
