#pragma once

#include "core/timestamp.hpp"

#include <boost/optional.hpp>

// Boost 1.74's optional.hpp uses version<> without including it.
#include <boost/serialization/version.hpp>

#include <boost/serialization/optional.hpp>
#include <boost/serialization/string.hpp>

#include <string>
#include <vector>

namespace zav {

// One located sample of one tracked object at one instant. Only
// trackable_uid, ts, x and y take part in any computation; every other
// member is carried through unchanged.
struct position
{
    long long trackable_id = 0;
    std::string trackable_uid;
    boost::optional<std::string> mac_address;
    timestamp ts;
    boost::optional<int> x;
    boost::optional<int> y;
    boost::optional<int> z;
    boost::optional<std::string> area_uid;
    boost::optional<std::string> project_uid;
    boost::optional<short> inactive;

    // The layout of the Boost text archives that earlier versions wrote as
    // runner.bin and database.bin, which are still read: the ten members in
    // declaration order, class version 0. Changing either breaks reading
    // those files. The files written now are binary records
    // (store/binary_records.hpp).
    template <class Archive>
    void serialize(Archive& _ar, const unsigned int)
    {
        _ar& trackable_id;
        _ar& trackable_uid;
        _ar& mac_address;
        _ar& ts;
        _ar& x;
        _ar& y;
        _ar& z;
        _ar& area_uid;
        _ar& project_uid;
        _ar& inactive;
    }

    bool operator==(const position&) const = default;
};

using positions_vector = std::vector<position>;

}  // namespace zav
