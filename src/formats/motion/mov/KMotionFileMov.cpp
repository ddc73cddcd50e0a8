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
    // A row may end early, but what stops it before its end is no number.
    char c;
    if (parsed) *parsed = n < count && PeekChar(c) ? -1 : n;
    return true;
}
