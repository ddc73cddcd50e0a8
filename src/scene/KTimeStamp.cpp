#include "scene/KTimeStamp.h"

#include "platform/KPlatformSystem.h"

void KTimeStamp::SetToLocalTime() {
    KPlatformLocalTime now;
    KPlatformGetLocalTime(now);
    year = now.year;
    month = now.month;
    day = now.day;
    hour = now.hour;
    minute = now.minute;
    second = now.second;
    millisecond = now.millisecond;
}
