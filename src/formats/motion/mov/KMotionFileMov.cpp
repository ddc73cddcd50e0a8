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

bool KMotionFileMov::ReadRow(double* values, int count, bool rewind) {
    if (!(rewind ? Rewind() : ReadLine())) return false;
    bool parsed = true;
    for (int i = 0; i < count; ++i)
        if (!(parsed = parsed && ReadDouble(values[i], 1.0))) values[i] = 0.0;
    return true;
}
