#include "position.hpp"

#include "support/position_streams.hpp"

#include <gtest/gtest.h>
#include <boost/archive/text_iarchive.hpp>
#include <boost/archive/text_oarchive.hpp>
#include <boost/serialization/vector.hpp>

#include <sstream>

using zav::position;

namespace {

position full_position()
{
    position p;
    p.trackable_id = 42;
    p.trackable_uid = "T1";
    p.mac_address = "aa:bb";
    p.ts = zav::timestamp(std::chrono::milliseconds(1714564800007));
    p.x = 10;
    p.y = -20;
    p.z = 3;
    p.area_uid = "area 1";
    p.project_uid = "P";
    p.inactive = 1;
    return p;
}

template <class T>
std::string archived(const T& _value)
{
    std::ostringstream out;
    {
        boost::archive::text_oarchive archive(out, boost::archive::no_header);
        archive << _value;
    }
    return out.str();
}

template <class T>
T reloaded(const T& _value)
{
    std::stringstream buffer;
    {
        boost::archive::text_oarchive archive(buffer);
        archive << _value;
    }
    boost::archive::text_iarchive archive(buffer);
    T loaded;
    archive >> loaded;
    return loaded;
}

}  // namespace

// Stored runner.bin and database.bin files must stay loadable: the text of an
// archived position is fixed.
TEST(PositionTest, ArchiveTextIsPinned)
{
    // Class information (tracking level, version) precedes the first object of
    // each class: 0 0 for position and timestamp, 0 1 for boost::optional.
    EXPECT_EQ(archived(full_position()),
              "0 0 42 2 T1 0 1 1 5 aa:bb 0 0 1714564800007 0 1 1 10 1 -20 1 3 1 6 area 1 1 1 P 0 1 1 1\n");
    // Absent optionals are a single 0 each; an empty uid is its length 0.
    EXPECT_EQ(archived(position{}), "0 0 0 0  0 1 0 0 0 0 0 1 0 0 0 0 0 0 1 0\n");
}

TEST(PositionTest, ArchiveRoundTripsKeepAbsentMembersAbsent)
{
    position partial;
    partial.trackable_uid = "tag with blanks";
    partial.ts = zav::timestamp(std::chrono::milliseconds(-1));
    partial.y = 0;
    partial.project_uid = "";
    partial.inactive = -32768;
    EXPECT_EQ(reloaded(partial), partial);
    const zav::positions_vector several{full_position(), partial, position{}};
    EXPECT_EQ(reloaded(several), several);
}

TEST(PositionTest, TruncatedArchiveIsRefused)
{
    std::string text = archived(full_position());
    text.resize(text.find("1714564800007"));
    std::istringstream in(text);
    boost::archive::text_iarchive archive(in, boost::archive::no_header);
    position loaded;
    EXPECT_THROW(archive >> loaded, boost::archive::archive_exception);
}
