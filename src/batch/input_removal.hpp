#pragma once

#include "batch/csv_line_reader.hpp"

#include <string>

namespace zav {

// What became of the input file at the end of a run without -s.
enum class input_removal {
    removed,
    // Kept by design: the name stands for a symbolic link, a FIFO, a device
    // or another file that is not a regular one, or lies under /dev or
    // /proc. Deleting such a name would damage the system, not remove data.
    kept_not_regular,
    // Kept because the name no longer stands for the file that was read
    // (moved away, and maybe replaced, while the run lasted): a file there
    // now holds data that was not processed.
    kept_replaced,
};

// Deletes _path only when it names, without a symbolic link, the same
// regular file that _read was opened on (same device and inode). Throws
// std::runtime_error with the system's reason when the deletion itself
// fails.
input_removal remove_input(const std::string& _path, const csv_line_reader::identity& _read);

}  // namespace zav
