#include "pipeline/position_record.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

using namespace zav;

// Each text of a record is numbered as a lookup of the text itself would
// number it, while a tag's MAC address, area and project come and go and
// change back (the last ones are compared where they are kept per tag), for
// MAC addresses on both sides of the length kept inline.
TEST(RecordStringsTest, NumbersFollowTheTextsAsTheyChange)
{
    std::mt19937 random(11);
    const auto pick = [&](std::size_t _n) {
        return std::uniform_int_distribution<std::size_t>(0, _n - 1)(random);
    };
    const std::vector<std::string> uids = {"0x1", "0x2", "0x3", "a uid of more than sixteen bytes"};
    const std::vector<std::string> mac_addresses = {"",
                                                    "D8:80:39:00:00:7C",
                                                    "D8:80:39:00:00:7D",
                                                    std::string(19, 'm'),
                                                    std::string(19, 'n'),
                                                    std::string(20, 'm'),
                                                    std::string(20, 'n'),
                                                    std::string(21, 'm') + "x",
                                                    "0x1"};  // equal to a uid: one text, one number
    const std::vector<std::string> areas = {"hall-1", "hall-2", "0x2"};

    record_strings strings;
    for (int i = 0; i < 5000; ++i) {
        const std::string& uid = uids[pick(uids.size())];
        const std::string_view mac_address = mac_addresses[pick(mac_addresses.size())];
        const std::string_view area = areas[pick(areas.size())];
        const bool with_mac_address = pick(8) != 0;
        const bool with_area = pick(4) != 0;
        position_record r;
        strings.number_texts(r, uid, with_mac_address ? &mac_address : nullptr, with_area ? &area : nullptr,
                             &area);
        SCOPED_TRACE("line " + std::to_string(i));
        ASSERT_EQ(strings.text(r.uid), uid);
        ASSERT_EQ(r.uid, strings.find(uid));
        if (with_mac_address) {
            ASSERT_EQ(strings.text(r.mac_address), mac_address);
            ASSERT_EQ(r.mac_address, strings.find(mac_address));
        } else {
            ASSERT_EQ(r.mac_address, position_record::absent);
        }
        ASSERT_EQ(r.area_uid, with_area ? strings.find(area) : position_record::absent);
        ASSERT_EQ(r.project_uid, strings.find(area));
    }
    // Every text once: one MAC address and one area are also uids.
    EXPECT_EQ(strings.size(), uids.size() + (mac_addresses.size() - 1) + (areas.size() - 1));
}
