#pragma once
// File times come from a clock that ticks every few milliseconds: two writes within one tick
// leave the same times. A test that wants a change told by the times waits for a tick first.

#include <time.h>
#include <unistd.h>

inline void WaitForTheFileClock() {
    struct timespec start, now;
    clock_gettime(CLOCK_REALTIME_COARSE, &start);
    do {
        usleep(500);
        clock_gettime(CLOCK_REALTIME_COARSE, &now);
    } while (now.tv_sec == start.tv_sec && now.tv_nsec == start.tv_nsec);
}
