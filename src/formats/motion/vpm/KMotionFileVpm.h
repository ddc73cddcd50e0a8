#pragma once
// The segment animation text file: blocks that follow each other, each a header
// ("Segment:" name, "Frames:" count, "Frame Time:" seconds), a line of column titles, a line
// of units, then one line per frame: translation in inches, rotation (Euler X, Y, Z) in
// degrees, scaling in percent.

#include "formats/motion/KMotionFile.h"
#include "foundation/KString.h"
#include "foundation/KVector4.h"

struct KQovNameTerms;

class KMotionFileVpm : public KMotionFile {
public:
    KMotionFileVpm();

    // The first line with `rewind`, else the next, and the two after it. True only when all
    // three parse, the name is not empty, frames >= 0 and the frame time is above 0.
    bool ReadHeader(KString& name, int& frames, double& frameTime, bool rewind);
    // The line the last header read began on; 0 when the file ended before it.
    int GetHeaderLine() const { return mHeaderLine; }
    // The titles and units lines, not compared with anything; false when one is missing.
    bool SkipColumnLines();
    // The next line: translation in centimetres, rotation in degrees; scaling is always 1.
    bool ReadFrame(KVector4& translation, KVector4& rotation, KVector4& scaling);

    // How the reader takes a segment's name back (KQovWrittenNames): one token of its line,
    // of at most kTokenStringMaximum bytes.
    static KQovNameTerms NameTerms();

    bool WriteHeader(const char* name, int frames, double frameTime);
    bool WriteColumnLines();
    // Translation in centimetres and scaling as a factor, written in inches and percent.
    bool WriteFrame(const KVector4& translation, const KVector4& rotation, const KVector4& scaling);

private:
    int mHeaderLine = 0;
    KMotionKeyword mKeywords[4] = {{"Segment:", 0}, {"Frames:", 0}, {"Frame Time:", 0}, {"", 0}};
};
