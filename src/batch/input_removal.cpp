#include "batch/input_removal.hpp"

#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string_view>

namespace zav {

namespace {

// Whether _path lies in a directory whose real path is /dev or /proc or
// below them; also true when that cannot be told.
bool in_system_directory(const std::string& _path)
{
    const auto slash = _path.rfind('/');
    const std::string directory = slash == std::string::npos ? "."
                                  : slash == 0               ? "/"
                                                             : _path.substr(0, slash);
    char resolved[PATH_MAX];
    if (::realpath(directory.c_str(), resolved) == nullptr) return true;
    const std::string_view real(resolved);
    for (const std::string_view system : {"/dev", "/proc"})
        if (real.starts_with(system) && (real.size() == system.size() || real[system.size()] == '/'))
            return true;
    return false;
}

}  // namespace

input_removal remove_input(const std::string& _path, const csv_line_reader::identity& _read)
{
    const auto cannot_delete = [&_path](int _errno) {
        return std::runtime_error("the output is complete, but input file \"" + _path +
                                  "\" cannot be deleted: " + std::strerror(_errno));
    };
    struct stat info
    {
    };
    if (::lstat(_path.c_str(), &info) != 0) {
        if (errno == ENOENT) return input_removal::kept_replaced;
        throw cannot_delete(errno);
    }
    if (!_read.regular || !S_ISREG(info.st_mode) || in_system_directory(_path))
        return input_removal::kept_not_regular;
    if (static_cast<std::uint64_t>(info.st_dev) != _read.device ||
        static_cast<std::uint64_t>(info.st_ino) != _read.inode)
        return input_removal::kept_replaced;
    if (::unlink(_path.c_str()) != 0) throw cannot_delete(errno);
    return input_removal::removed;
}

}  // namespace zav
