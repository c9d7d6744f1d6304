#pragma once

#include "store/inconsistent_state_error.hpp"

namespace zav {

// A state file (runner.bin, database.bin) exists but its content cannot be
// trusted: it fails its checksum, is cut short, has bytes after its end, is
// of a version this program does not know, or does not parse. Going on
// without it, or replacing it, could lose the rows it stands for, so the
// daemon stops with the file left exactly as it was; the message names the
// file, the fault and what the operator can do.
class corrupt_state_file_error : public inconsistent_state_error
{
public:
    using inconsistent_state_error::inconsistent_state_error;
};

}  // namespace zav
