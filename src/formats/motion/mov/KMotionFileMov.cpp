#include "formats/motion/mov/KMotionFileMov.h"

KMotionFileMov::KMotionFileMov() : KMotionFile("MOV", " \t\r\n", "", true, false) {}

bool KMotionFileMov::CountLines(int& count) {
    count = 0;
    for (bool more = Rewind(); more; more = ReadLine()) ++count;
    return count > 0;
}

bool KMotionFileMov::CountColumns(int& count) {
    count = 0;
    if (!Rewind()) return false;
    for (double value; ReadDouble(value, 1.0);) ++count;
    char c;
    return !PeekChar(c);
}

bool KMotionFileMov::ReadRow(double* values, int count, bool rewind, int* parsed) {
    if (!(rewind ? Rewind() : ReadLine())) return false;
    int n = 0;
    while (n < count && ReadDouble(values[n], 1.0)) ++n;
    for (int i = n; i < count; ++i) values[i] = 0.0;
    // Numbers past `count` are counted, not kept; what stops the row is no number.
    char c;
    if (n == count)
        for (double extra; ReadDouble(extra, 1.0);) ++n;
    if (parsed) *parsed = PeekChar(c) ? -1 : n;
    return true;
}
