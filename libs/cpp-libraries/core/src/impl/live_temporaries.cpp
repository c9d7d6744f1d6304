#include "live_temporaries.hpp"

#include <dirent.h>
#include <unistd.h>

#include <mutex>
#include <set>
#include <vector>

namespace zav::libs::core::live_temporaries {

namespace {

struct registry
{
    std::mutex mutex;
    std::set<std::string, std::less<>> held;
};

registry& the_registry()
{
    static registry instance;
    return instance;
}

}  // namespace

int create(file_system& _fs, const std::string& _path)
{
    auto& r = the_registry();
    const std::lock_guard lock(r.mutex);
    const int fd = _fs.create_new(_path);
    if (fd >= 0) r.held.insert(_path);
    return fd;
}

int rename(file_system& _fs, const std::string& _from, const std::string& _to)
{
    auto& r = the_registry();
    const std::lock_guard lock(r.mutex);
    const int renamed = _fs.rename(_from, _to);
    if (renamed == 0) r.held.erase(_from);
    return renamed;
}

void remove(file_system& _fs, const std::string& _path)
{
    auto& r = the_registry();
    const std::lock_guard lock(r.mutex);
    _fs.remove(_path);
    r.held.erase(_path);
}

void remove_unheld(const std::string& _directory, const std::function<bool(std::string_view)>& _is_leftover)
{
    auto& r = the_registry();
    const std::lock_guard lock(r.mutex);
    DIR* dir = ::opendir(_directory.c_str());
    if (dir == nullptr) return;
    std::vector<std::string> found;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name(entry->d_name);
        if (!_is_leftover(name)) continue;
        std::string path = _directory + "/" + std::string(name);
        if (!r.held.contains(path)) found.push_back(std::move(path));
    }
    ::closedir(dir);
    for (const auto& path : found) ::unlink(path.c_str());
}

}  // namespace zav::libs::core::live_temporaries
