#pragma once
// The motion table text file: one row per frame, the time in seconds first, then three
// columns per channel group on (translation, rotation, scaling) per marker. Which groups are
// present is not in the file; the caller's settings say it.

#include <vector>

#include "formats/motion/KMotionFile.h"

class KMotionFileMov : public KMotionFile {
public:
    KMotionFileMov();

    // Significant lines from the first on; false when there is none.
    bool CountLines(int& count);
    // Numbers on the first line; false when anything else follows them there.
    bool CountColumns(int& count);
    // Up to `count` numbers of the first line (`rewind`) or the next; the rest from the first
    // that does not parse are 0, and `parsed` tells how many numbers the row holds (-1 when
    // something that is no number stands in it). False only when no line is left.
    bool ReadRow(double* values, int count, bool rewind, int* parsed = nullptr);
};
