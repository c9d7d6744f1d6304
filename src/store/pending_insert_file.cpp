#include "store/pending_insert_file.hpp"

#include "core/atomic_file.hpp"
#include "core/exception.hpp"

#include <boost/archive/text_iarchive.hpp>
#include <boost/archive/text_oarchive.hpp>
#include <boost/filesystem/operations.hpp>
#include <boost/serialization/vector.hpp>

#include <fstream>
#include <sstream>

namespace zav::pending_insert_file {

void save(const std::string& _path, const positions_vector& _positions)
{
    libs::core::write_file_atomically(_path, [&](std::ostream& _os) {
        boost::archive::text_oarchive archive(_os);
        archive << _positions;
    });
}

positions_vector load(const std::string& _path)
{
    std::ifstream file(_path);
    if (!file) return {};
    try {
        std::stringstream content;
        content << file.rdbuf();
        boost::archive::text_iarchive archive(content);
        positions_vector positions;
        archive >> positions;
        return positions;
    } catch (const std::exception& e) {
        // A batch that cannot be read cannot be recovered either; keeping the
        // file would fail every later recovery the same way.
        boost::system::error_code ignored;
        boost::filesystem::remove(_path, ignored);
        throw libs::core::exception(e.what(), CORE_SOURCE_LOCATION);
    }
}

}  // namespace zav::pending_insert_file
