#pragma once
// The calendar time stamp written into a file's header.

#include <cstdint>

struct KTimeStamp {
    void Clear() { *this = KTimeStamp(); }
    // From the machine's local clock; all zero when it cannot be read.
    void SetToLocalTime();

    int32_t year = 0;
    int32_t month = 0;  // 1..12
    int32_t day = 0;    // 1..31
    int32_t hour = 0;
    int32_t minute = 0;
    int32_t second = 0;
    int32_t millisecond = 0;
};
