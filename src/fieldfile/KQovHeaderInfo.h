#pragma once
// What the field file learns from a file's header extension when it opens one, and what
// it writes there when it creates one. The caller owns it.

#include <cstdint>

#include "foundation/KString.h"

struct KQovHeaderInfo {
    bool cameraResolutionPresent = false;
    KString cameraName;
    KString resolutionMode;
    double width = 0.0;
    double height = 0.0;
    bool timeStampPresent = false;
    // year, month, day, hour, minute, second, millisecond
    int32_t timeStamp[7] = {};
    KString creator;
    int32_t fileVersion = 6000;
};
