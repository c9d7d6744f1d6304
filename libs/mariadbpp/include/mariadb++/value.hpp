#pragma once

namespace mariadb::value {

// The kind of a result column, derived from its client library field type.
enum type {
    null = 0,
    blob = 1,
    data = 2,
    date = 3,
    date_time = 4,
    time = 5,
    string = 6,
    boolean = 7,
    decimal = 8,
    unsigned8 = 9,
    signed8 = 10,
    unsigned16 = 11,
    signed16 = 12,
    unsigned32 = 13,
    signed32 = 14,
    unsigned64 = 15,
    signed64 = 16,
    float32 = 17,
    double64 = 18,
    enumeration = 19,
};

}  // namespace mariadb::value
