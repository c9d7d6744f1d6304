#include "store/writer_id.hpp"

#include "core/atomic_file.hpp"
#include "core/exception.hpp"

#include <boost/format.hpp>

#include <fstream>
#include <random>

namespace zav {

namespace {

constexpr std::size_t id_length = 16;

bool is_id(const std::string& _text)
{
    return _text.size() == id_length && _text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

}  // namespace

std::string load_or_create_writer_id(const std::string& _persistent_data_dir)
{
    const std::string path = _persistent_data_dir + "/writer_id";
    std::string id;
    if (std::ifstream file(path); file) {
        std::getline(file, id);
        // A damaged file is replaced: a new identity only costs one wait for
        // the old lease to expire.
        if (is_id(id)) return id;
    }
    std::random_device random;
    id = (boost::format("%08x%08x") % random() % random()).str();
    libs::core::write_file_atomically(path, [&](std::ostream& _os) { _os << id << '\n'; });
    return id;
}

}  // namespace zav
